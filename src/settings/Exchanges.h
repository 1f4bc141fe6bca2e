#pragma once

#include "link/Link.h"
#include "session/Session.h"

namespace velutron {

// The opening of every operation that changes the logger: the probe, the recording check and, for a
// service function, service access. False when the operation must stop (the user has been told why).
inline bool ReadyToChange(Session& s, bool needsService) {
  s.link.Test_COM_OK();
  s.link.Test_Job_Rej();
  if (!s.link.state.LinkOk) return false;
  return !(needsService && RefusedWithoutService(s));
}

// Whether the logger confirmed the latest write or action: a time-out or a link already down did not,
// nor did a failure code below 100 or a code outside the table; 100 and the confirmations did.
inline bool ReplyConfirmed(const LinkState& st) {
  if (st.TimedOut || !st.LinkOk) return false;
  const uint8_t code = st.RxBuffer[0];
  return code >= proto::reply::kAccepted && !ReplyCodeMessage(code).isError;
}

// A register read; on a time-out the last byte received stands in.
inline uint8_t ReadRegister(Link& link, uint8_t address) {
  link.Read_COM_Byte(proto::kRegisterRead, address);
  return link.state.DataByte;
}

// Register writes one after another, each reporting its own reply; remembers whether all were accepted.
// Only 100 accepts a register write: a confirmation code answers some other command.
class RegisterWriter {
 public:
  explicit RegisterWriter(Link& link) : link_(link) {}
  void Write(uint8_t address, uint8_t value) {
    link_.Write_COM_Byte(proto::kRegisterWrite, address, value);
    // A time-out leaves ReplyOk as it was, so the link flag decides too.
    confirmed_ = link_.state.ReplyOk && link_.state.LinkOk && confirmed_;
  }
  // All accepted, and the link still up (none was skipped).
  bool Confirmed() const { return confirmed_ && link_.state.LinkOk; }

 private:
  Link& link_;
  bool confirmed_ = true;
};

}  // namespace velutron
