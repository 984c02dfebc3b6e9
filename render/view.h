#pragma once

// Draws the world image as the camera sees it into frame_buffer (once per frame).
void render_view();
