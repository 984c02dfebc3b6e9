#pragma once
#include <gtk/gtk.h>

// The control panel: a small GTK window beside the drawing window whose widgets write
// viewer_settings. It has no main loop of its own; the frame loop iterates the default GLib main
// context and the callbacks run inside those iterations, on the program's one thread.

// Resets the exit request, initialises GTK with the program's arguments (GTK takes out its own
// options), builds the panel, shows it and ends the program when the panel window is destroyed.
// Without a display the program ends through exit_program with status 1.
void start_panel(int* argc, char*** argv);

// Builds the panel's widget tree with every widget shown, its initial state set, its callback
// connected and its name registered on the window. The window itself is not shown. Building
// writes nothing to viewer_settings: the callbacks are connected only after the initial states.
GtkWidget* create_panel();

// The panel's top-level window; null before start_panel and after the window has been destroyed.
extern GtkWidget* panel_window;

// Finds the widget registered under `name` on the top-level window that holds `widget` (any
// widget inside the panel will do). Returns null and logs "Widget not found: NAME" as a GLib
// warning when the name is not registered.
GtkWidget* find_widget(GtkWidget* widget, const gchar* name);

// Logs a printf-style message as a GLib warning without a log domain.
void panel_warning(const gchar* format, ...) G_GNUC_PRINTF(1, 2);

// Signal callbacks, each with its signal's signature; the user data is never read.
void on_velocity_changed(GtkRange* range, gpointer user_data);
void on_zoompan_changed(GtkRange* range, gpointer user_data);
void on_dt_changed(GtkRange* range, gpointer user_data);
void on_limit_fps_toggled(GtkToggleButton* toggle, gpointer user_data);
void on_fps_changed(GtkSpinButton* spin, gpointer user_data);
void on_bilin_ipol_toggled(GtkToggleButton* toggle, gpointer user_data);
void on_compressed_residue_toggled(GtkToggleButton* toggle, gpointer user_data);
void on_hiqu_toggled(GtkToggleButton* toggle, gpointer user_data);
void on_show_minimap_toggled(GtkToggleButton* toggle, gpointer user_data);
void on_draw_crosshair_toggled(GtkToggleButton* toggle, gpointer user_data);
void on_exit_pressed(GtkButton* button, gpointer user_data);
void on_panel_destroy(GtkObject* window, gpointer user_data);
