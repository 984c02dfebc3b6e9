#pragma once
// What the viewer prints while it starts, as the end-to-end tests expect it.
#include <string>

#include "store/data_set.h"
#include "tests/e2e/harness.h"

namespace e2e {

// The closing lines of every exit: "\n" and the clean-up line.
inline constexpr char kClosingLines[] = "\n\n\tcleaned up successfully\n";

// `text` without the toolkit's own warnings ("(quorvik:PID): Gtk-WARNING **: ...", each after a
// blank line); they are not the viewer's messages.
std::string without_toolkit_noise(const std::string& text);

// The banner's wording is free; it is the first line. Returns it and puts the rest in `rest`.
std::string split_banner(const std::string& out, std::string& rest);

// The "filenames:" line of a residual level, paths in `folder` as the viewer opens them.
std::string filenames_line(int sub, int level, const std::string& folder = kDefaultDataFolder);

// The start-up log after the banner, for the data set in `data_dir` (the ezw_data folder on
// disk) opened by the viewer as `folder`; the file lengths come from the files themselves.
std::string expected_log(const std::string& data_dir,
                         const std::string& folder = kDefaultDataFolder);

// The camera position of the last "ipos = " line printed with p (six significant digits).
bool last_ipos(const std::string& out, float& x, float& y, float& z);

// The camera as p prints it now. Frames pass first, so that events already sent have been taken.
bool read_camera(Session& s, float& x, float& y, float& z);

// The camera once a flight has ended: read until two readings a moment apart agree. A loaded
// machine draws fewer frames, so a flight may take longer than its nominal time.
bool read_settled_camera(Session& s, float& x, float& y, float& z, int timeout_ms = 15000);

}  // namespace e2e
