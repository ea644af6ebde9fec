#pragma once
#include <string>

// The OpenGL acceleration check, which the dialog runs when it opens and a
// preview run when it starts.

// The driver kind of pixel format 1 of the desktop: "MCD", "ICD", "No",
// or empty when it cannot be described.
std::string DriverKind();
// Records the driver kind as "driver" and, when it is "No", tells the user
// that acceleration is missing and offers the drivers' page: every time, or
// with `onlyOnce` only when no kind was recorded before. False when the
// user was told.
bool CheckAcceleration(bool onlyOnce);
// The text of the acceleration warning.
extern const char* const kAccelerationMessage;
