// The control panel built in-process on a real X display: widget tree, lookup, and what each
// widget writes into viewer_settings.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "panel/panel.h"

namespace {

// Every name the panel registers, in registration order.
const char* const kRegisteredNames[] = {
    "GUI_Window",
    "vbox1",
    "label3",
    "label1",
    "GUI_velocitySlider",
    "label2",
    "GUI_zoompanSlider",
    "label5",
    "GUI_dt",
    "hseparator2",
    "hbox1",
    "GUI_limitFPS",
    "label4",
    "spinbutton1",
    "hseparator4",
    "GUI_bilinIpol",
    "GUI_compressedResidue",
    "GUI_hiqu",
    "GUI_showMinimap",
    "GUI_drawCrosshair",
    "hseparator3",
    "GUI_exitButton",
};

#define SETTINGS_FIELDS(X) \
    X(compressedResidue)   \
    X(bilinIpol)           \
    X(drawCrosshair)       \
    X(showMinimap) X(limitFPS) X(fps) X(zoompan) X(velocity) X(dt) X(hiqu) X(exitRequested)

void expect_settings(const ViewerSettings& want, const ViewerSettings& got,
                     const std::string& context) {
#define EXPECT_FIELD(f) EXPECT_EQ(want.f, got.f) << context << ": field " #f;
    SETTINGS_FIELDS(EXPECT_FIELD)
#undef EXPECT_FIELD
}

// Warnings and criticals logged under the given domains (by default none, which is how
// find_widget reports a missing name).
struct WarningCapture {
    std::vector<std::string> messages;
    std::vector<std::pair<const char*, guint>> handlers;
    explicit WarningCapture(std::vector<const char*> domains = {nullptr}) {
        for (const char* domain : domains)
            handlers.emplace_back(
                domain, g_log_set_handler(domain,
                                          GLogLevelFlags(G_LOG_LEVEL_WARNING |
                                                         G_LOG_LEVEL_CRITICAL | G_LOG_FLAG_FATAL),
                                          &WarningCapture::handler, this));
    }
    ~WarningCapture() {
        for (const auto& h : handlers) g_log_remove_handler(h.first, h.second);
    }
    static void handler(const gchar*, GLogLevelFlags, const gchar* message, gpointer self) {
        static_cast<WarningCapture*>(self)->messages.push_back(message);
    }
};

void drain_events() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

class PanelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!g_getenv("DISPLAY"))
            GTEST_SKIP() << "DISPLAY is not set: the panel needs an X server (ctest runs the "
                            "tests under a private Xvfb)";
        static const bool gtk_ready = gtk_init_check(nullptr, nullptr);
        ASSERT_TRUE(gtk_ready) << "GTK cannot open DISPLAY=" << g_getenv("DISPLAY");
        rebuild();
    }
    void TearDown() override {
        if (panel_window) gtk_widget_destroy(panel_window);
        panel_window = nullptr;
    }

  public:
    // A fresh panel over the start values of the settings.
    void rebuild() {
        TearDown();
        viewer_settings = ViewerSettings{};
        panel_window = create_panel();
    }
    GtkWidget* widget(const char* name) {
        return GTK_WIDGET(g_object_get_data(G_OBJECT(panel_window), name));
    }
    GtkRange* range(const char* name) { return GTK_RANGE(widget(name)); }
    GtkToggleButton* toggle(const char* name) { return GTK_TOGGLE_BUTTON(widget(name)); }
    GtkSpinButton* spin() { return GTK_SPIN_BUTTON(widget("spinbutton1")); }
    // What a user pressing End on a focused slider does.
    void slide_to_end(const char* name) {
        gboolean handled = FALSE;
        g_signal_emit_by_name(widget(name), "move-slider", GTK_SCROLL_END, &handled);
    }
};

// ---- building ----

TEST_F(PanelTest, BuildingAndShowingThePanelWritesNoSetting) {
    // Values no widget starts with, so any write during the build shows up.
    ViewerSettings sentinel;
    sentinel.compressedResidue = 7;
    sentinel.bilinIpol = 7;
    sentinel.drawCrosshair = 7;
    sentinel.showMinimap = 7;
    sentinel.limitFPS = 7;
    sentinel.fps = 77;
    sentinel.zoompan = 9.25f;
    sentinel.velocity = 9.5f;
    sentinel.dt = 9.75f;
    sentinel.hiqu = 7;
    sentinel.exitRequested = 7;
    viewer_settings = sentinel;
    // The viewer's standard error carries only its own messages: building the panel must not
    // make the toolkit complain either.
    WarningCapture complaints({nullptr, "Gtk", "Gdk", "GLib", "GLib-GObject"});
    GtkWidget* other = create_panel();
    gtk_widget_show(other);
    drain_events();
    expect_settings(sentinel, viewer_settings, "after building and showing");
    gtk_widget_destroy(other);
    for (const std::string& m : complaints.messages) ADD_FAILURE() << "logged: " << m;
}

TEST_F(PanelTest, WidgetsStartWithTheSettingsStartValuesAndTheirTexts) {
    ASSERT_NE(panel_window, nullptr);
    EXPECT_TRUE(GTK_IS_WINDOW(panel_window));
    EXPECT_FALSE(GTK_WIDGET_VISIBLE(panel_window)) << "create_panel leaves showing to its caller";
    EXPECT_NE(std::string(gtk_window_get_title(GTK_WINDOW(panel_window))).find("QUORVIK"),
              std::string::npos);
    EXPECT_STREQ(gtk_window_get_icon_name(GTK_WINDOW(panel_window)), "gtk-execute");
    EXPECT_EQ(gtk_window_get_gravity(GTK_WINDOW(panel_window)), GDK_GRAVITY_NORTH_EAST);
    int w = 0, h = 0;
    gtk_widget_get_size_request(panel_window, &w, &h);
    EXPECT_EQ(w, 350);
    EXPECT_EQ(h, 400);

    const struct {
        const char* name;
        const char* text;
    } texts[] = {
        {"label3", "Animation parameters:\n"}, {"label1", "velocity:"},
        {"label2", "zoom-/pan- ratio:"},       {"label5", "timestep for animation"},
        {"label4", "  frames per second"},
    };
    for (const auto& t : texts) {
        ASSERT_TRUE(GTK_IS_LABEL(widget(t.name))) << t.name;
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(widget(t.name))), t.text) << t.name;
    }

    const struct {
        const char* name;
        const char* text;
        gboolean active;
    } checks[] = {
        {"GUI_limitFPS", "limit framerate to ", TRUE},
        {"GUI_bilinIpol", "bilinear interpolation", TRUE},
        {"GUI_compressedResidue", "add compressed residuals", TRUE},
        {"GUI_hiqu", "always highest resolution", FALSE},
        {"GUI_showMinimap", "show minimap", TRUE},
        {"GUI_drawCrosshair", "draw crosshair", TRUE},
    };
    for (const auto& c : checks) {
        ASSERT_TRUE(GTK_IS_CHECK_BUTTON(widget(c.name))) << c.name;
        EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(widget(c.name))), c.text) << c.name;
        EXPECT_EQ(gtk_toggle_button_get_active(toggle(c.name)), c.active) << c.name;
    }
    ASSERT_TRUE(GTK_IS_BUTTON(widget("GUI_exitButton")));
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(widget("GUI_exitButton"))), "Exit");

    // Their bounds are checked by moving them; here the start values and the step sizes.
    const struct {
        const char* name;
        double value, step, page;
    } scales[] = {
        {"GUI_velocitySlider", 1.0, 0.01, 0.1},
        {"GUI_zoompanSlider", 1.42, 0.01, 0.05},
        {"GUI_dt", 1.0, 0.05, 0.1},
    };
    for (const auto& s : scales) {
        ASSERT_TRUE(GTK_IS_HSCALE(widget(s.name))) << s.name;
        GtkAdjustment* a = gtk_range_get_adjustment(range(s.name));
        EXPECT_DOUBLE_EQ(gtk_adjustment_get_value(a), s.value) << s.name;
        EXPECT_DOUBLE_EQ(gtk_adjustment_get_step_increment(a), s.step) << s.name;
        EXPECT_DOUBLE_EQ(gtk_adjustment_get_page_increment(a), s.page) << s.name;
        EXPECT_EQ(gtk_scale_get_digits(GTK_SCALE(widget(s.name))), 2) << s.name;
    }
    GtkAdjustment* a = gtk_spin_button_get_adjustment(spin());
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_step_increment(a), 1);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_page_increment(a), 10);
    EXPECT_EQ(gtk_spin_button_get_digits(spin()), 0u);
    EXPECT_EQ(gtk_spin_button_get_value_as_int(spin()), 25);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(spin())), "25");
}

TEST_F(PanelTest, ShownPanelReadsTopToBottomAndTheRateRowLeftToRight) {
    EXPECT_EQ(gtk_bin_get_child(GTK_BIN(panel_window)), widget("vbox1"));
    gtk_widget_show(panel_window);
    drain_events();
    const char* const column[] = {
        "label3",
        "label1",
        "GUI_velocitySlider",
        "label2",
        "GUI_zoompanSlider",
        "label5",
        "GUI_dt",
        "hseparator2",
        "hbox1",
        "hseparator4",
        "GUI_bilinIpol",
        "GUI_compressedResidue",
        "GUI_hiqu",
        "GUI_showMinimap",
        "GUI_drawCrosshair",
        "hseparator3",
        "GUI_exitButton",
    };
    int bottom = 0;
    for (const char* name : column) {
        const GtkAllocation& a = widget(name)->allocation;
        EXPECT_GE(a.y, bottom) << name << " is not below the widget before it";
        EXPECT_GT(a.height, 1) << name;
        EXPECT_EQ(gtk_widget_get_parent(widget(name)), widget("vbox1")) << name;
        bottom = a.y + a.height;
    }
    // The rate row: check button, spin button, then the label taking the rest of the row with
    // its text at the left edge.
    const GtkAllocation& check = widget("GUI_limitFPS")->allocation;
    const GtkAllocation& spin_box = widget("spinbutton1")->allocation;
    const GtkAllocation& label = widget("label4")->allocation;
    const GtkAllocation& row = widget("hbox1")->allocation;
    EXPECT_LE(check.x + check.width, spin_box.x);
    EXPECT_LE(spin_box.x + spin_box.width, label.x);
    EXPECT_EQ(label.x + label.width, row.x + row.width);
    gfloat xalign = -1, yalign = -1;
    gtk_misc_get_alignment(GTK_MISC(widget("label4")), &xalign, &yalign);
    EXPECT_FLOAT_EQ(xalign, 0.0f);
    EXPECT_FLOAT_EQ(yalign, 0.5f);
}

// ---- widget lookup ----

TEST_F(PanelTest, EveryRegisteredNameResolvesFromEveryWidgetInside) {
    std::vector<GtkWidget*> starts;
    for (const char* name : kRegisteredNames) starts.push_back(widget(name));
    // A widget's internal children (a check button's label, the button's label) count too.
    starts.push_back(gtk_bin_get_child(GTK_BIN(widget("GUI_hiqu"))));
    starts.push_back(gtk_bin_get_child(GTK_BIN(widget("GUI_exitButton"))));
    for (GtkWidget* start : starts) ASSERT_NE(start, nullptr);

    WarningCapture warnings;
    for (const char* name : kRegisteredNames) {
        GtkWidget* expected = widget(name);
        ASSERT_NE(expected, nullptr) << name << " is not registered";
        if (std::string(name) == "GUI_Window")
            EXPECT_EQ(expected, panel_window);
        else
            EXPECT_TRUE(gtk_widget_is_ancestor(expected, panel_window)) << name;
        for (GtkWidget* start : starts)
            EXPECT_EQ(find_widget(start, name), expected)
                << name << " from a " << G_OBJECT_TYPE_NAME(start);
    }
    EXPECT_TRUE(warnings.messages.empty()) << warnings.messages.front();
}

TEST_F(PanelTest, LookupClimbsFromMenusAndDetachedWidgets) {
    // A popup menu attached to the Exit button lives in its own toplevel; the walk goes on at
    // the widget it is attached to.
    GtkWidget* menu = gtk_menu_new();
    GtkWidget* item = gtk_menu_item_new_with_label("entry");
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    gtk_menu_attach_to_widget(GTK_MENU(menu), widget("GUI_exitButton"), nullptr);
    EXPECT_EQ(find_widget(item, "GUI_hiqu"), widget("GUI_hiqu"));
    EXPECT_EQ(find_widget(menu, "GUI_Window"), panel_window);

    // A widget outside any container names its logical parent under "GladeParentKey".
    GtkWidget* loose = gtk_label_new("loose");
    g_object_ref_sink(loose);
    g_object_set_data(G_OBJECT(loose), "GladeParentKey", widget("hbox1"));
    EXPECT_EQ(find_widget(loose, "spinbutton1"), widget("spinbutton1"));
    g_object_unref(loose);
    gtk_menu_detach(GTK_MENU(menu));
}

TEST_F(PanelTest, MissingNameGivesNullAndOneWarning) {
    WarningCapture warnings;
    EXPECT_EQ(find_widget(widget("GUI_dt"), "GUI_noSuchWidget"), nullptr);
    ASSERT_EQ(warnings.messages.size(), 1u);
    EXPECT_EQ(warnings.messages[0], "Widget not found: GUI_noSuchWidget");

    // A name registered on another panel is not found in this one.
    GtkWidget* other = create_panel();
    g_object_set_data(G_OBJECT(other), "only_there", other);
    EXPECT_EQ(find_widget(widget("label1"), "only_there"), nullptr);
    gtk_widget_destroy(other);
    ASSERT_EQ(warnings.messages.size(), 2u);
    EXPECT_EQ(warnings.messages[1], "Widget not found: only_there");

    // No panel to start from: warn rather than crash.
    EXPECT_EQ(find_widget(nullptr, "GUI_limitFPS"), nullptr);
    ASSERT_EQ(warnings.messages.size(), 3u);
    EXPECT_EQ(warnings.messages[2], "Widget not found: GUI_limitFPS");
}

TEST_F(PanelTest, RegistrationKeepsWidgetsAliveButNotTheWindow) {
    bool button_gone = false, window_gone = false;
    auto mark = [](gpointer flag, GObject*) { *static_cast<bool*>(flag) = true; };
    GtkWidget* button = widget("GUI_exitButton");
    g_object_weak_ref(G_OBJECT(button), mark, &button_gone);
    g_object_weak_ref(G_OBJECT(panel_window), mark, &window_gone);

    // Out of its container the button lives on through the window's reference.
    gtk_container_remove(GTK_CONTAINER(widget("vbox1")), button);
    EXPECT_FALSE(button_gone);
    EXPECT_EQ(find_widget(panel_window, "GUI_exitButton"), button);

    // Destroying the window frees it (it holds no reference on itself) and drops the rest.
    gtk_widget_destroy(panel_window);
    panel_window = nullptr;
    EXPECT_TRUE(window_gone);
    EXPECT_TRUE(button_gone);
}

// ---- callbacks ----

TEST_F(PanelTest, EachWidgetChangeWritesExactlyItsField) {
    struct Case {
        const char* what;
        std::function<void(PanelTest&)> act;
        std::function<void(ViewerSettings&)> expect;
    };
    const Case cases[] = {
        {"velocity slider",
         [](PanelTest& t) { gtk_range_set_value(t.range("GUI_velocitySlider"), 2.0); },
         [](ViewerSettings& s) { s.velocity = 2.0f; }},
        {"ratio slider",
         [](PanelTest& t) { gtk_range_set_value(t.range("GUI_zoompanSlider"), 3.3); },
         [](ViewerSettings& s) { s.zoompan = 3.3f; }},
        {"timestep slider", [](PanelTest& t) { gtk_range_set_value(t.range("GUI_dt"), 0.5); },
         [](ViewerSettings& s) { s.dt = 0.5f; }},
        {"limit off",
         [](PanelTest& t) { gtk_toggle_button_set_active(t.toggle("GUI_limitFPS"), FALSE); },
         [](ViewerSettings& s) { s.limitFPS = 0; }},
        {"spin to 40", [](PanelTest& t) { gtk_spin_button_set_value(t.spin(), 40); },
         [](ViewerSettings& s) { s.fps = 40; }},
        {"spin one step down",
         [](PanelTest& t) { gtk_spin_button_spin(t.spin(), GTK_SPIN_STEP_BACKWARD, 1); },
         [](ViewerSettings& s) { s.fps = 24; }},
        {"bilinear off",
         [](PanelTest& t) { gtk_toggle_button_set_active(t.toggle("GUI_bilinIpol"), FALSE); },
         [](ViewerSettings& s) { s.bilinIpol = 0; }},
        {"residuals off",
         [](PanelTest& t) {
             gtk_toggle_button_set_active(t.toggle("GUI_compressedResidue"), FALSE);
         },
         [](ViewerSettings& s) { s.compressedResidue = 0; }},
        {"highest resolution on",
         [](PanelTest& t) { gtk_toggle_button_set_active(t.toggle("GUI_hiqu"), TRUE); },
         [](ViewerSettings& s) { s.hiqu = 1; }},
        {"minimap off",
         [](PanelTest& t) { gtk_toggle_button_set_active(t.toggle("GUI_showMinimap"), FALSE); },
         [](ViewerSettings& s) { s.showMinimap = 0; }},
        {"crosshair off",
         [](PanelTest& t) { gtk_toggle_button_set_active(t.toggle("GUI_drawCrosshair"), FALSE); },
         [](ViewerSettings& s) { s.drawCrosshair = 0; }},
        {"crosshair off and on again",
         [](PanelTest& t) {
             gtk_toggle_button_set_active(t.toggle("GUI_drawCrosshair"), FALSE);
             gtk_toggle_button_set_active(t.toggle("GUI_drawCrosshair"), TRUE);
         },
         [](ViewerSettings& s) { s.drawCrosshair = 1; }},
        {"minimap clicked twice (as a user toggles)",
         [](PanelTest& t) {
             gtk_button_clicked(GTK_BUTTON(t.widget("GUI_showMinimap")));
             gtk_button_clicked(GTK_BUTTON(t.widget("GUI_showMinimap")));
             gtk_button_clicked(GTK_BUTTON(t.widget("GUI_showMinimap")));
         },
         [](ViewerSettings& s) { s.showMinimap = 0; }},
    };
    for (const Case& c : cases) {
        rebuild();
        // Start from values that differ from every widget's state, so a write of the same value
        // as the start value would still be seen.
        viewer_settings.compressedResidue = 5;
        viewer_settings.bilinIpol = 5;
        viewer_settings.drawCrosshair = 5;
        viewer_settings.showMinimap = 5;
        viewer_settings.limitFPS = 5;
        viewer_settings.hiqu = 5;
        ViewerSettings want = viewer_settings;
        c.act(*this);
        c.expect(want);
        expect_settings(want, viewer_settings, c.what);
    }
}

TEST_F(PanelTest, SlidersAndSpinButtonStopAtTheirReachableBounds) {
    const struct {
        const char* name;
        float ViewerSettings::*field;
        float lowest, highest;
    } sliders[] = {
        // GTK 2 keeps a scale's value within [lower, upper - page size].
        {"GUI_velocitySlider", &ViewerSettings::velocity, 0.05f, 2.4f},
        {"GUI_zoompanSlider", &ViewerSettings::zoompan, 0.01f, 4.5f},
        {"GUI_dt", &ViewerSettings::dt, 0.05f, 4.0f},
    };
    for (const auto& s : sliders) {
        gtk_range_set_value(range(s.name), -100.0);
        EXPECT_EQ(viewer_settings.*s.field, s.lowest) << s.name;
        gtk_range_set_value(range(s.name), 100.0);
        EXPECT_EQ(viewer_settings.*s.field, s.highest) << s.name << " set far above";
        gtk_range_set_value(range(s.name), 1.0);
        slide_to_end(s.name);
        EXPECT_EQ(viewer_settings.*s.field, s.highest) << s.name << " End key";
    }
    // The spin button's page size does not shorten its range: 100 is reachable.
    gtk_spin_button_set_value(spin(), 0);
    EXPECT_EQ(viewer_settings.fps, 5);
    gtk_spin_button_spin(spin(), GTK_SPIN_END, 0);
    EXPECT_EQ(viewer_settings.fps, 100);
    gtk_spin_button_set_value(spin(), 1000);
    EXPECT_EQ(viewer_settings.fps, 100);
}

TEST_F(PanelTest, FramesPerSecondTruncatesFractions) {
    gtk_spin_button_set_value(spin(), 17.9);
    EXPECT_EQ(viewer_settings.fps, 17);
    // Typed into the entry: the spin button shows the rounded whole number but holds the
    // fraction, and the limiter gets the truncated value.
    gtk_entry_set_text(GTK_ENTRY(spin()), "33.7");
    gtk_spin_button_update(spin());
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(spin())), "34");
    EXPECT_EQ(viewer_settings.fps, 33);
}

TEST_F(PanelTest, ChangingTheRateSwitchesTheLimiterBackOn) {
    gtk_toggle_button_set_active(toggle("GUI_limitFPS"), FALSE);
    EXPECT_EQ(viewer_settings.limitFPS, 0);
    EXPECT_EQ(viewer_settings.fps, 25) << "switching the limiter off keeps the rate";

    gtk_spin_button_spin(spin(), GTK_SPIN_PAGE_FORWARD, 10);
    EXPECT_EQ(viewer_settings.fps, 35);
    EXPECT_EQ(viewer_settings.limitFPS, 1);
    EXPECT_TRUE(gtk_toggle_button_get_active(toggle("GUI_limitFPS")));

    // Off and on again: the rate chosen before is still the one in use.
    gtk_toggle_button_set_active(toggle("GUI_limitFPS"), FALSE);
    gtk_toggle_button_set_active(toggle("GUI_limitFPS"), TRUE);
    EXPECT_EQ(viewer_settings.limitFPS, 1);
    EXPECT_EQ(viewer_settings.fps, 35);
}

TEST_F(PanelTest, ExitActsOnPressNotOnRelease) {
    testing::internal::CaptureStdout();
    g_signal_emit_by_name(widget("GUI_exitButton"), "pressed");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "EXIT button pressed.\n");
    EXPECT_EQ(viewer_settings.exitRequested, 1);

    rebuild();
    g_signal_emit_by_name(widget("GUI_exitButton"), "released");
    EXPECT_EQ(viewer_settings.exitRequested, 0);
}

TEST_F(PanelTest, StartPanelShowsThePanelAndItsCloseEndsTheRun) {
    TearDown();  // start_panel builds its own
    viewer_settings.exitRequested = 1;
    char arg0[] = "quorvik";
    char* args[] = {arg0, nullptr};
    char** argv = args;
    int argc = 1;
    start_panel(&argc, &argv);
    ASSERT_NE(panel_window, nullptr);
    EXPECT_EQ(viewer_settings.exitRequested, 0) << "a new run starts without an exit request";
    EXPECT_TRUE(GTK_WIDGET_VISIBLE(panel_window));
    drain_events();
    EXPECT_EQ(viewer_settings.exitRequested, 0);

    // What a window manager's close does: a delete event, whose default handling destroys the
    // window.
    GdkEvent* event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(panel_window->window));
    event->any.send_event = TRUE;
    testing::internal::CaptureStdout();
    gtk_main_do_event(event);
    const std::string out = testing::internal::GetCapturedStdout();
    gdk_event_free(event);
    EXPECT_EQ(out, "delete event occured\n");
    EXPECT_EQ(viewer_settings.exitRequested, 1);
    EXPECT_EQ(panel_window, nullptr) << "the destroyed window is forgotten";

    // A rate change still queued for that frame finds no panel: no crash, no lookup.
    WarningCapture warnings;
    GtkWidget* spin_button = gtk_spin_button_new_with_range(5, 100, 1);
    g_object_ref_sink(spin_button);
    on_fps_changed(GTK_SPIN_BUTTON(spin_button), nullptr);
    EXPECT_EQ(viewer_settings.fps, 5);
    EXPECT_TRUE(warnings.messages.empty());
    g_object_unref(spin_button);
}

}  // namespace

// Without any display the viewer cannot show its panel; it must end through the exit routine
// with status 1 and say why, instead of being ended by the toolkit.
static void start_panel_without_display() {
    g_unsetenv("DISPLAY");
    char arg0[] = "quorvik";
    char* args[] = {arg0, nullptr};
    char** argv = args;
    int argc = 1;
    start_panel(&argc, &argv);
}

TEST(StartPanelDeathTest, NoDisplayEndsWithStatusOneAndAMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(start_panel_without_display(), testing::ExitedWithCode(1),
                "cannot open the control panel: no X display");
}
