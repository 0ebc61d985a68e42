// A board's node exists a moment before udev grants this user access to it
// (the uaccess rule is applied after the node is created), and libusb 0.1
// shows the refusal only at the configuration or the claim. So the first
// open is tried quietly and, while it is refused for permission, again once
// the node accepts writing (looked at every 150 ms) until the grace ends; the
// open link is kept for the batch. Any other failure, or a refusal that
// outlasts the grace, is left to the batch's own open, which reports it as
// usual.
#pragma once

#include <chrono>
#include <functional>
#include <string>

// Needs the device choice made. say gets the one line that tells the operator
// it is waiting. Returns 0, or the stop signal that came while waiting.
int OpenWithPermissionGrace(std::chrono::steady_clock::time_point graceEnd,
                            const std::function<void(const std::string&)>& say);
