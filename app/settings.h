#pragma once
#include <cstdint>

// The one settings record of the viewer. Only the control panel's callbacks write it; the frame
// loop, the input step, the flight and the renderer read it. Flags hold exactly 0 or 1.
struct ViewerSettings {
    int32_t compressedResidue = 1;  // decode and add tile residuals
    int32_t bilinIpol = 1;          // bilinear instead of nearest sampling
    int32_t drawCrosshair = 1;      // white plus at the window centre
    int32_t showMinimap = 1;        // minimap overlay and minimap click
    int32_t limitFPS = 1;           // frame limiter on
    int32_t fps = 25;               // frame limiter target, frames per second
    float zoompan = 1.42f;          // flight: zoom/pan ratio rho
    float velocity = 1.0f;          // flight: speed factor of the path parameter
    float dt = 1.0f;                // flight: second speed factor
    int32_t hiqu = 0;               // always draw the finest level
    int32_t exitRequested = 0;      // set by the panel's Exit button or by closing the panel
};

// Written by the panel callbacks (and by the headless tool before it renders).
extern ViewerSettings viewer_settings;
