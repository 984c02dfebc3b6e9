// The control panel window: building the widget tree and starting the panel at program start.
#include "panel/panel.h"

#include <clocale>

#include "app/exit.h"
#include "app/settings.h"

GtkWidget* panel_window = nullptr;

namespace {

const char kPanelTitle[] = "QUORVIK control panel";

// Keeps a widget reachable through find_widget. The window's data holds a reference of its own,
// dropped when the window's data goes, so a registered widget outlives any removal from its
// container for as long as the window does.
void register_widget(GtkWidget* window, const char* name, GtkWidget* widget) {
    g_object_set_data_full(G_OBJECT(window), name, g_object_ref(widget), g_object_unref);
}

GtkWidget* make_label(const char* text) {
    GtkWidget* label = gtk_label_new(text);
    gtk_widget_show(label);
    return label;
}

GtkWidget* make_scale(double value, double lower, double upper, double step, double page,
                      double page_size) {
    GtkObject* adjustment = gtk_adjustment_new(value, lower, upper, step, page, page_size);
    GtkWidget* scale = gtk_hscale_new(GTK_ADJUSTMENT(adjustment));
    gtk_widget_show(scale);
    gtk_scale_set_digits(GTK_SCALE(scale), 2);
    return scale;
}

GtkWidget* make_check(const char* text, gboolean active) {
    GtkWidget* check = gtk_check_button_new_with_mnemonic(text);
    gtk_widget_show(check);
    if (active) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), TRUE);
    return check;
}

GtkWidget* make_separator() {
    GtkWidget* separator = gtk_hseparator_new();
    gtk_widget_show(separator);
    return separator;
}

void pack(GtkWidget* box, GtkWidget* child, gboolean expand_and_fill) {
    gtk_box_pack_start(GTK_BOX(box), child, expand_and_fill, expand_and_fill, 0);
}

}  // namespace

GtkWidget* create_panel() {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_set_size_request(window, 350, 400);
    gtk_window_set_title(GTK_WINDOW(window), kPanelTitle);
    gtk_window_set_icon_name(GTK_WINDOW(window), "gtk-execute");
    gtk_window_set_gravity(GTK_WINDOW(window), GDK_GRAVITY_NORTH_EAST);

    GtkWidget* vbox1 = gtk_vbox_new(FALSE, 0);
    gtk_widget_show(vbox1);
    gtk_container_add(GTK_CONTAINER(window), vbox1);

    GtkWidget* label3 = make_label("Animation parameters:\n");
    pack(vbox1, label3, FALSE);
    GtkWidget* label1 = make_label("velocity:");
    pack(vbox1, label1, FALSE);
    GtkWidget* velocity = make_scale(1.0, 0.05, 2.5, 0.01, 0.1, 0.1);
    pack(vbox1, velocity, TRUE);
    GtkWidget* label2 = make_label("zoom-/pan- ratio:");
    pack(vbox1, label2, FALSE);
    GtkWidget* zoompan = make_scale(1.42, 0.01, 5.0, 0.01, 0.05, 0.5);
    pack(vbox1, zoompan, TRUE);
    GtkWidget* label5 = make_label("timestep for animation");
    pack(vbox1, label5, FALSE);
    GtkWidget* dt = make_scale(1.0, 0.05, 5.0, 0.05, 0.1, 1.0);
    pack(vbox1, dt, TRUE);
    GtkWidget* hseparator2 = make_separator();
    pack(vbox1, hseparator2, TRUE);

    // One row: [x] limit framerate to [ 25 ]  frames per second. The label is packed from the
    // end so that it takes the rest of the row, text at its left edge.
    GtkWidget* hbox1 = gtk_hbox_new(FALSE, 0);
    gtk_widget_show(hbox1);
    pack(vbox1, hbox1, TRUE);
    GtkWidget* limit_fps = make_check("limit framerate to ", TRUE);
    pack(hbox1, limit_fps, FALSE);
    GtkWidget* label4 = make_label("  frames per second");
    gtk_box_pack_end(GTK_BOX(hbox1), label4, TRUE, TRUE, 0);
    gtk_misc_set_alignment(GTK_MISC(label4), 0.0f, 0.5f);
    // Whole frames per second from 5 to 100, stepping by 1 and paging by 10. GTK 2.24 ignores a
    // spin button's page size when clamping (100 stays reachable) but warns on standard error
    // about a non-zero one every time the panel is built, so the page size is 0.
    GtkObject* fps_adjustment = gtk_adjustment_new(25, 5, 100, 1, 10, 0);
    GtkWidget* spinbutton1 = gtk_spin_button_new(GTK_ADJUSTMENT(fps_adjustment), 1.0, 0);
    gtk_widget_show(spinbutton1);
    pack(hbox1, spinbutton1, FALSE);

    GtkWidget* hseparator4 = make_separator();
    pack(vbox1, hseparator4, TRUE);
    GtkWidget* bilin_ipol = make_check("bilinear interpolation", TRUE);
    pack(vbox1, bilin_ipol, FALSE);
    GtkWidget* compressed_residue = make_check("add compressed residuals", TRUE);
    pack(vbox1, compressed_residue, FALSE);
    GtkWidget* hiqu = make_check("always highest resolution", FALSE);
    pack(vbox1, hiqu, FALSE);
    GtkWidget* show_minimap = make_check("show minimap", TRUE);
    pack(vbox1, show_minimap, FALSE);
    GtkWidget* draw_crosshair = make_check("draw crosshair", TRUE);
    pack(vbox1, draw_crosshair, FALSE);
    GtkWidget* hseparator3 = make_separator();
    pack(vbox1, hseparator3, TRUE);
    GtkWidget* exit_button = gtk_button_new_with_mnemonic("Exit");
    gtk_widget_show(exit_button);
    pack(vbox1, exit_button, FALSE);

    // Only now, with every initial state in place, may the widgets start writing settings.
    g_signal_connect(velocity, "value_changed", G_CALLBACK(on_velocity_changed), nullptr);
    g_signal_connect(zoompan, "value_changed", G_CALLBACK(on_zoompan_changed), nullptr);
    g_signal_connect(dt, "value_changed", G_CALLBACK(on_dt_changed), nullptr);
    g_signal_connect(limit_fps, "toggled", G_CALLBACK(on_limit_fps_toggled), nullptr);
    g_signal_connect(spinbutton1, "value_changed", G_CALLBACK(on_fps_changed), nullptr);
    g_signal_connect(bilin_ipol, "toggled", G_CALLBACK(on_bilin_ipol_toggled), nullptr);
    g_signal_connect(compressed_residue, "toggled", G_CALLBACK(on_compressed_residue_toggled),
                     nullptr);
    g_signal_connect(hiqu, "toggled", G_CALLBACK(on_hiqu_toggled), nullptr);
    g_signal_connect(show_minimap, "toggled", G_CALLBACK(on_show_minimap_toggled), nullptr);
    g_signal_connect(draw_crosshair, "toggled", G_CALLBACK(on_draw_crosshair_toggled), nullptr);
    // Acts as soon as the mouse button goes down on it, not on release.
    g_signal_connect(exit_button, "pressed", G_CALLBACK(on_exit_pressed), nullptr);

    // The window names itself without a reference: a reference to itself in its own data would
    // keep it alive for ever.
    g_object_set_data(G_OBJECT(window), "GUI_Window", window);
    register_widget(window, "vbox1", vbox1);
    register_widget(window, "label3", label3);
    register_widget(window, "label1", label1);
    register_widget(window, "GUI_velocitySlider", velocity);
    register_widget(window, "label2", label2);
    register_widget(window, "GUI_zoompanSlider", zoompan);
    register_widget(window, "label5", label5);
    register_widget(window, "GUI_dt", dt);
    register_widget(window, "hseparator2", hseparator2);
    register_widget(window, "hbox1", hbox1);
    register_widget(window, "GUI_limitFPS", limit_fps);
    register_widget(window, "label4", label4);
    register_widget(window, "spinbutton1", spinbutton1);
    register_widget(window, "hseparator4", hseparator4);
    register_widget(window, "GUI_bilinIpol", bilin_ipol);
    register_widget(window, "GUI_compressedResidue", compressed_residue);
    register_widget(window, "GUI_hiqu", hiqu);
    register_widget(window, "GUI_showMinimap", show_minimap);
    register_widget(window, "GUI_drawCrosshair", draw_crosshair);
    register_widget(window, "hseparator3", hseparator3);
    register_widget(window, "GUI_exitButton", exit_button);
    return window;
}

void start_panel(int* argc, char*** argv) {
    viewer_settings.exitRequested = 0;
    gtk_set_locale();
    // gtk_init would end the process on its own without a display; this way the exit routine
    // still releases what start-up has made so far.
    if (!gtk_init_check(argc, argv)) {
        const char* display = gdk_get_display_arg_name();
        if (!display) display = g_getenv("DISPLAY");
        exit_program(1, "cannot open the control panel: no X display (DISPLAY=%s)",
                     display && *display ? display : "<unset>");
    }
    // GTK takes the whole locale from the environment; numbers the viewer prints (the caption's
    // frame rate, the camera print-out) keep the decimal point whatever the user's language.
    setlocale(LC_NUMERIC, "C");
    panel_window = create_panel();
    gtk_widget_show(panel_window);
    g_signal_connect(panel_window, "destroy", G_CALLBACK(on_panel_destroy), nullptr);
}
