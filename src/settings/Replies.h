#pragma once

#include "link/Link.h"

namespace velutron {

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

}  // namespace velutron
