// The host-service seam: installed services receive the calls, the default
// ones come back, and the server exception carries its reason.
#include "platform/host_services.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct CapturingServices : HostServices {
  std::vector<std::string> lines;
  void write_output(StatusPair* status, int, const char* area, int count) override {
    set_success(status);
    if (count < 0) {
      lines.emplace_back(area);
      return;
    }
    for (int i = 0; i < count; ++i) {
      lines.emplace_back(area);
      area += lines.back().size() + 1;
    }
  }
};

TEST(HostServices, InstalledServicesReceiveOutputUntilReplaced) {
  CapturingServices capture;
  HostServices* previous = InstallHostServices(&capture);
  StatusPair st{5, 5};
  const char area[] = "first\0second";
  WriteServerOutput(&st, 3, area, 2);
  WriteServerOutput(&st, 7, "as it stands", -1);
  InstallHostServices(previous);
  EXPECT_EQ(st.rc, 0);
  EXPECT_EQ(st.os_status, -1);
  EXPECT_EQ(capture.lines, (std::vector<std::string>{"first", "second", "as it stands"}));
}

TEST(HostServices, RaiseServerExceptionCarriesReason) {
  try {
    RaiseServerException(22);
    FAIL() << "RaiseServerException returned";
  } catch (const ServerException& e) {
    EXPECT_EQ(e.reason(), 22);
  }
}

}  // namespace
