#pragma once

// Initialises GTK with the program's arguments and shows the control panel.
void start_panel(int* argc, char*** argv);
