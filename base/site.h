#pragma once
#include <cstdint>

// The product's fixed identity: its web addresses and version. Everything
// that links to the web site builds its address from kWebRoot.

// Root of the product web site; page names are appended directly.
constexpr const char kWebRoot[] = "https://www.quorvane.example/";
constexpr const char kHomePage[] = "https://www.quorvane.example/";
constexpr const char kFeedbackPage[] = "https://www.quorvane.example/feedback.php";
constexpr const char kSupportAddress[] = "support@quorvane.example";
// Target of the crash report's form.
constexpr const char kBugReportPage[] = "https://www.quorvane.example/bugreport.php";
// Driver-download page opened by the acceleration check ("?device=" follows).
constexpr const char kOpenGLPage[] = "https://www.quorvane.example/opengl.php";

// Program version, one byte per field from the most significant: 1.1.0.0.
constexpr std::uint32_t kAppVersion = 0x01010000;
