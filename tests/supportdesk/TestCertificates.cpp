#include "tests/supportdesk/TestCertificates.h"

#include <cstdlib>
#include <string>

TestCertificates::TestCertificates() {
  const std::string command = std::string("sh '") + VZ_CERTIFICATE_SCRIPT + "' '" + folder_.path().string() + "'";
  made_ = std::system(command.c_str()) == 0;
}
