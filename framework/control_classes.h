// Makes the framework's component classes known to form resources by name
// (and the colour names). Call once at start-up, before a form is read;
// later layers register their own classes the same way:
//   RegisterComponentClass<FtpClient>("FtpClient");
#pragma once

namespace qv {

void RegisterControlClasses();

}  // namespace qv
