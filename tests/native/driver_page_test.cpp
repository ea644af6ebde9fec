#include "render/driver_page.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(DriverPage, NamesThatCouldEndOrSplitTheQueryAreEncoded) {
    EXPECT_EQ(PercentEncoded("Radeon #2 (rev?) 50% & more"), "Radeon%20%232%20%28rev%3F%29%2050%25%20%26%20more");
    EXPECT_EQ(PercentEncoded("AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(PercentEncoded("\r\xC9\xFF"), "%0D%C9%FF");
    const std::string url = DriverPageUrl("https://x.example/opengl.php", {"GPU #1(\\\\.\\DISPLAY1)", "B?(x)"});
    EXPECT_EQ(url,
              "https://x.example/opengl.php?device=GPU%20%231%28%5C%5C.%5CDISPLAY1%29%0DB%3F%28x%29%0D");
    // One query: no raw separator after the page's own.
    EXPECT_EQ(url.find_first_of("#&", 0), std::string::npos);
    EXPECT_EQ(url.find('?'), url.rfind('?'));
}

TEST(DriverPage, ALongAdapterListKeepsWholeLinesWithinTheLimit) {
    // A machine with many adapters: every one used to be dropped at once.
    std::vector<std::string> lines(40, std::string(100, 'a') + "(\\\\.\\DISPLAY10)");
    const std::string url = DriverPageUrl("https://x.example/p", lines);
    EXPECT_LE(url.size(), kMaxDriverPageUrl);
    const std::string encodedLine = PercentEncoded(lines[0] + "\r");
    const std::string prefix = "https://x.example/p?device=";
    ASSERT_GT(url.size(), prefix.size());
    EXPECT_EQ((url.size() - prefix.size()) % encodedLine.size(), 0u) << "a line was cut";
    EXPECT_GE((url.size() - prefix.size()) / encodedLine.size(), 10u);
    // The first line goes in even when it alone is too long.
    EXPECT_EQ(DriverPageUrl("p", {std::string(3000, 'b')}, 100).size(), 1u + 8u + 3000u + 3u);
    EXPECT_EQ(DriverPageUrl("p", {}), "p?device=");
}
