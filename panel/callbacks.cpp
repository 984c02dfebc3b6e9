// The panel's signal callbacks. Each stores one field of viewer_settings; none draws or touches
// the camera, so a change is simply picked up by the rest of the frame that processed it.
#include <cstdio>

#include "app/settings.h"
#include "panel/panel.h"

namespace {
// Flags hold exactly 0 or 1, whatever truthy value the toolkit hands back.
int32_t active_flag(GtkToggleButton* toggle) {
    return gtk_toggle_button_get_active(toggle) == TRUE ? 1 : 0;
}
}  // namespace

void on_velocity_changed(GtkRange* range, gpointer) {
    viewer_settings.velocity = static_cast<float>(gtk_range_get_value(range));
}

void on_zoompan_changed(GtkRange* range, gpointer) {
    viewer_settings.zoompan = static_cast<float>(gtk_range_get_value(range));
}

void on_dt_changed(GtkRange* range, gpointer) {
    viewer_settings.dt = static_cast<float>(gtk_range_get_value(range));
}

void on_limit_fps_toggled(GtkToggleButton* toggle, gpointer) {
    viewer_settings.limitFPS = active_flag(toggle);
}

void on_fps_changed(GtkSpinButton* spin, gpointer) {
    // The spin button can hold a fraction (typed in, or set from code); the limiter wants whole
    // frames per second and truncates like every float-to-int conversion in the viewer.
    viewer_settings.fps = static_cast<int32_t>(gtk_spin_button_get_value(spin));
    // Choosing a rate means wanting it: switch the limiter on. Going through the check button
    // keeps the button and the setting in step, since its own callback writes limitFPS.
    if (!panel_window) return;  // the panel is being torn down
    GtkWidget* limit = find_widget(panel_window, "GUI_limitFPS");
    if (limit) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(limit), TRUE);
}

void on_bilin_ipol_toggled(GtkToggleButton* toggle, gpointer) {
    viewer_settings.bilinIpol = active_flag(toggle);
}

void on_compressed_residue_toggled(GtkToggleButton* toggle, gpointer) {
    viewer_settings.compressedResidue = active_flag(toggle);
}

void on_hiqu_toggled(GtkToggleButton* toggle, gpointer) {
    viewer_settings.hiqu = active_flag(toggle);
}

void on_show_minimap_toggled(GtkToggleButton* toggle, gpointer) {
    viewer_settings.showMinimap = active_flag(toggle);
}

void on_draw_crosshair_toggled(GtkToggleButton* toggle, gpointer) {
    viewer_settings.drawCrosshair = active_flag(toggle);
}

void on_exit_pressed(GtkButton*, gpointer) {
    printf("EXIT button pressed.\n");
    viewer_settings.exitRequested = 1;
}

void on_panel_destroy(GtkObject*, gpointer) {
    // "destroy" returns nothing, so there is no result to give. The window is about to be
    // finalised: forget it so that no later callback of this frame looks widgets up through it.
    panel_window = nullptr;
    viewer_settings.exitRequested = 1;
    g_print("delete event occured\n");
}
