#pragma once
#include <SDL/SDL.h>

#include <string>

// The frame loop's SDL events beyond quit and resize: the left button's drag, wheel notches and
// the one-shot keys F11 (fullscreen), F12 (save the frame), Home (fly to the start view) and v
// (print the view shown as a command line).
// A one-shot key acts once per press: the repeats SDL sends while it is held are ignored.
void handle_viewer_event(const SDL_Event& event);

// Saves the frame buffer if F12 asked for it since the last call. Called once the frame is
// complete (overlays included), before it is shown; prints the path on standard output, or why
// it failed on standard error.
void save_requested_screenshot();

// What the v key's command line opens: the folder or file the viewer was given ("" for none).
extern std::string view_command_target;
