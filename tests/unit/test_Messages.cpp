#include "base/BuildConfig.h"
#include "base/Messages.h"

#include <gtest/gtest.h>

#include <string>

using namespace pellamark;

namespace {

const std::string Support(config::SupportAddress);

TEST(Messages, ErrorReportsAreWordedExactly) {
    EXPECT_EQ(unreachableMessage(),
              "The server is unreachable. If you are seeing this message when you start your "
              "computer, you will have to remove Pellamark from your startup.  This can be done "
              "by clicking OK, then restarting Pellamark, and then by clicking Options under the "
              "File menu. If this not the case, please check your internet connection or "
              "firewall. If you are still have problemss, please contact " +
                  Support + ".");
    EXPECT_EQ(loadErrorReport(5, "Access denied"),
              "An error occured.  Please report this to " + Support + ": 5\tAccess denied");
    EXPECT_EQ(connectErrorReport(-2147012889, "Name not resolved"),
              "An error occured in connecting with our server.  Please report this to " + Support +
                  ": -2147012889\tName not resolved");
    EXPECT_EQ(dialogErrorReport(91, "Object variable not set"),
              "An error has occured.  Please contact " + Support +
                  " with this information in your email:91 Object variable not set");
}

} // namespace
