// The status page's script and style sheet, served beside it so that the page loads nothing from
// anywhere else and a strict content security policy holds.

#include "station/StatusPage.h"

namespace velutron::station {

const std::string_view kStatusStyle = R"css(
:root { font-family: system-ui, sans-serif; color: #202020; background: #f4f4f4; }
body { margin: 0; padding: 0.5rem; }
h1 { font-size: 1.3rem; margin: 0.3rem 0 0.6rem; }
h2 { font-size: 1.1rem; margin: 0 0 0.2rem; }
h2 small { font-weight: normal; color: #606060; }
.logger { background: #fff; border-radius: 6px; padding: 0.6rem; margin-bottom: 0.8rem;
          box-shadow: 0 1px 2px rgba(0, 0, 0, 0.15); }
.logger.down { background: #f0e6e6; }
.archive-failing { background: #ff0000; color: #fff; font-weight: bold; padding: 0.5rem 0.6rem;
                   border-radius: 6px; margin: 0 0 0.8rem; }
.reading { margin: 0 0 0.4rem; color: #606060; }
.alarms { list-style: none; margin: 0 0 0.4rem; padding: 0; }
.alarms li, .channel .alarm { color: #ff0000; font-weight: bold; }
.channels { display: grid; grid-template-columns: repeat(auto-fill, minmax(16rem, 1fr)); gap: 0.6rem; }
.channel { border: 1px solid #ddd; border-radius: 4px; padding: 0.4rem;
           display: grid; grid-template-columns: 1fr auto; grid-template-areas:
           "point value" "band value" "alarm alarm" "chart chart"; }
.point { grid-area: point; color: #800000; font-weight: bold; }
.band { grid-area: band; color: #ff00ff; font-size: 0.9rem; }
.value { grid-area: value; font-size: 1.6rem; font-weight: bold; align-self: center; }
.value.above { color: #ff0000; }
.value.below { color: #0000ff; }
.value.inside { color: #008000; }
.channel .alarm { grid-area: alarm; }
.chart { grid-area: chart; width: 100%; height: 5rem; margin-top: 0.3rem; background: #fafafa; }
.chart .line { fill: none; stroke: #202020; stroke-width: 1.2; vector-effect: non-scaling-stroke; }
.chart .high { stroke: #ff0000; stroke-dasharray: 4 3; vector-effect: non-scaling-stroke; }
.chart .low { stroke: #0000ff; stroke-dasharray: 4 3; vector-effect: non-scaling-stroke; }
.chart text { font-size: 9px; fill: #606060; }
@media (max-width: 30rem) {
  body { padding: 0.25rem; }
  .channels { grid-template-columns: 1fr; }
  .value { font-size: 1.4rem; }
}
)css";

const std::string_view kStatusScript = R"js('use strict';
// Refreshes the page in place, keeps the ages current and draws each channel's last 24 hours.
const PAGE_MS = 10000;
const HISTORY_MS = 60000;
const DAY_MS = 24 * 3600 * 1000;
const SVG = 'http://www.w3.org/2000/svg';
const histories = new Map();
let clockOffset = 0;  // the station's clock minus this device's

function stationNow() { return Date.now() + clockOffset; }

function ageText(ms) {
  const s = Math.max(0, Math.floor(ms / 1000));
  if (s < 120) return s + ' s temu';
  if (s < 2 * 3600) return Math.floor(s / 60) + ' min temu';
  if (s < 2 * 86400) return Math.floor(s / 3600) + ' h temu';
  return Math.floor(s / 86400) + ' dni temu';
}

function updateAges() {
  for (const el of document.querySelectorAll('.age[data-time]')) {
    el.textContent = ageText(stationNow() - Date.parse(el.dataset.time));
  }
}

function svgElement(name, attributes) {
  const el = document.createElementNS(SVG, name);
  for (const [key, value] of Object.entries(attributes)) el.setAttribute(key, value);
  return el;
}

function draw(svg, readings, from, to, low, high) {
  svg.replaceChildren();
  const values = readings.filter(r => r.value !== null).map(r => r.value);
  if (values.length === 0) {
    const empty = svgElement('text', { x: 150, y: 44, 'text-anchor': 'middle' });
    empty.textContent = 'brak danych';
    svg.append(empty);
    return;
  }
  let min = Math.min(...values);
  let max = Math.max(...values);
  for (const limit of [low, high]) {
    if (limit !== null) { min = Math.min(min, limit); max = Math.max(max, limit); }
  }
  if (max - min < 1) { min -= 0.5; max += 0.5; }
  const x = t => (t - from) / (to - from) * 300;
  const y = v => 76 - (v - min) / (max - min) * 72;
  // A reading missing, or a pause longer than a few intervals, breaks the line.
  const times = readings.map(r => Date.parse(r.time));
  const steps = times.slice(1).map((t, i) => t - times[i]).sort((a, b) => a - b);
  const gap = steps.length ? Math.max(3 * steps[Math.floor(steps.length / 2)], 1000) : Infinity;
  let path = '';
  let pen = false;
  readings.forEach((r, i) => {
    if (r.value === null || (i > 0 && times[i] - times[i - 1] > gap)) pen = false;
    if (r.value === null) return;
    path += (pen ? 'L' : 'M') + x(times[i]).toFixed(1) + ' ' + y(r.value).toFixed(1);
    pen = true;
  });
  for (const [limit, cls] of [[low, 'low'], [high, 'high']]) {
    if (limit !== null) {
      svg.append(svgElement('line', { class: cls, x1: 0, x2: 300, y1: y(limit), y2: y(limit) }));
    }
  }
  svg.append(svgElement('path', { class: 'line', d: path }));
  const top = svgElement('text', { x: 2, y: 10 });
  top.textContent = max.toFixed(1).replace('.', ',');
  const bottom = svgElement('text', { x: 2, y: 78 });
  bottom.textContent = min.toFixed(1).replace('.', ',');
  svg.append(top, bottom);
}

async function drawCharts() {
  for (const svg of document.querySelectorAll('svg.chart')) {
    const channel = svg.closest('.channel');
    const logger = svg.closest('.logger').dataset.logger;
    const key = logger + '\n' + channel.dataset.channel;
    const limit = name => (name in channel.dataset ? Number(channel.dataset[name]) : null);
    let history = histories.get(key);
    if (!history || Date.now() - history.fetched > HISTORY_MS) {
      const to = stationNow();
      const from = to - DAY_MS;
      const query = new URLSearchParams({
        logger, channel: channel.dataset.channel,
        from: new Date(from).toISOString(), to: new Date(to).toISOString(), max: 600 });
      try {
        const response = await fetch('/api/history?' + query, { cache: 'no-store' });
        if (!response.ok) continue;
        history = { fetched: Date.now(), from, to, readings: (await response.json()).readings };
        histories.set(key, history);
      } catch (e) {
        continue;
      }
    }
    draw(svg, history.readings, history.from, history.to, limit('low'), limit('high'));
  }
}

async function refresh() {
  try {
    const response = await fetch('/', { cache: 'no-store' });
    if (response.ok) {
      const page = new DOMParser().parseFromString(await response.text(), 'text/html');
      const main = page.getElementById('status');
      if (main) {
        document.getElementById('status').replaceWith(document.adoptNode(main));
        start();
      }
    }
  } catch (e) {
    // The station is away for a moment: keep what is shown and try again.
  }
}

function start() {
  const now = document.getElementById('status').dataset.now;
  if (now) clockOffset = Date.parse(now) - Date.now();
  updateAges();
  drawCharts();
}

start();
setInterval(updateAges, 1000);
setInterval(refresh, PAGE_MS);
)js";

}  // namespace velutron::station
