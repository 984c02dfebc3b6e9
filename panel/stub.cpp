// Placeholder until the control panel lands: GTK is initialised, no window yet.
#include <gtk/gtk.h>
#include "app/exit.h"
#include "app/settings.h"
#include "panel/panel.h"
void start_panel(int* argc, char*** argv) {
    viewer_settings.exitRequested = 0;
    if (!gtk_init_check(argc, argv)) exit_program(1, "cannot open the control panel: no display");
}
