#pragma once
#include <cstdint>

constexpr uint32_t kMarkerColour = 0x00BB0000;
constexpr uint32_t kCrosshairColour = 0x00FFFFFF;

// Minimap, camera marker and crosshair on top of the frame.
void draw_overlays();

// A five-pixel plus centred on (cx, cy). An arm is drawn only when both it and the centre lie
// inside the frame along the arm and the centre lies inside across it.
void draw_plus(int cx, int cy, uint32_t colour);
