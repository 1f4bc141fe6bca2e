#pragma once

#include <QByteArray>

#include "archive/PeriodReport.h"
#include "platform/Locale.h"

namespace velutron::archive {

// The period report printed as an A4 PDF: the title, the document's blocks (a table split over pages
// repeats its header), and on every page the footer, the data's hash and "Strona N z M". Empty when it
// could not be drawn.
QByteArray ReportPdf(const ReportDocument& document, const Locale& locale);

}  // namespace velutron::archive
