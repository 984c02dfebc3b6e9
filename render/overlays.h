#pragma once

// Minimap, camera marker and crosshair on top of the frame.
void draw_overlays();
