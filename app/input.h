#pragma once
#include <cstdint>

// World units a movement key moves the camera this frame; the frame loop resets it to 20 at the
// start of each frame, the input step's shift keys change it.
extern float move_speed;

// One frame's input: the key state array (indexed by SDL key symbol), the mouse button mask and
// position, and the modifier state. Moves the camera, may start a flight, print the camera or
// end the program.
void input_step(const uint8_t* keys, uint32_t buttons, int mx, int my, uint32_t modifiers);
