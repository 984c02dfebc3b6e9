// Finding panel widgets by the names create_panel registers on the top-level window.
#include <cstdarg>

#include "panel/panel.h"

void panel_warning(const gchar* format, ...) {
    va_list args;
    va_start(args, format);
    g_logv(nullptr, G_LOG_LEVEL_WARNING, format, args);
    va_end(args);
}

GtkWidget* find_widget(GtkWidget* widget, const gchar* name) {
    if (!widget) {
        panel_warning("Widget not found: %s", name);
        return nullptr;
    }
    // Walk up to the top-level window. A menu is not inside its owner's widget tree, so it
    // continues at the widget it is attached to; a widget built apart from its logical parent
    // may name that parent under "GladeParentKey".
    for (;;) {
        GtkWidget* parent = GTK_IS_MENU(widget) ? gtk_menu_get_attach_widget(GTK_MENU(widget))
                                                : gtk_widget_get_parent(widget);
        if (!parent)
            parent = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(widget), "GladeParentKey"));
        if (!parent) break;
        widget = parent;
    }
    auto* found = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(widget), name));
    if (!found) panel_warning("Widget not found: %s", name);
    return found;
}
