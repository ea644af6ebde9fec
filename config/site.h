#pragma once
#include <cstdint>

// The product's web addresses and version. Until the product has a public
// site, every address lies under the reserved domain quorvane.example.

constexpr const char kWebRoot[] = "https://www.quorvane.example/";
constexpr const char kHomePage[] = "https://www.quorvane.example/";
constexpr const char kFeedbackPage[] = "https://www.quorvane.example/feedback.php";
constexpr const char kSupportAddress[] = "support@quorvane.example";

// Program version, one byte per field from the most significant: 1.1.0.0.
constexpr std::uint32_t kAppVersion = 0x01010000;
