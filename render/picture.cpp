#include "render/picture.h"

#include <algorithm>
#include <cctype>

#include "app/frame_state.h"
#include "camera/camera.h"
#include "render/qvk_picture.h"
#include "store/data_set.h"

PictureGeometry picture_geometry;
std::unique_ptr<QvkPicture> viewer_file;

Picture viewer_picture() {
    return viewer_file ? Picture(*viewer_file) : Picture(viewer_data);
}

namespace {

// The folder form's minimap is 256 pixels wide; a one-file picture's gets as many on its longer
// side.
constexpr int kMinimapSide = 256;

// A shell word for `text`: as it is when it holds nothing a shell treats specially.
std::string shell_word(const std::string& text) {
    bool plain = !text.empty();
    for (char c : text)
        if (!(isalnum(static_cast<unsigned char>(c)) || c == '/' || c == '.' || c == '_' ||
              c == '-' || c == '+' || c == ',' || c == ':' || c == '='))
            plain = false;
    if (plain) return text;
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

void apply_view(const StartView& view) {
    const PictureGeometry& g = picture_geometry;
    camera->set_position(float(g.x0 + 2.0 * view.x), float(2.0 * focal_length / view.scale),
                         float(g.z0 + 2.0 * view.y));
}

std::string view_command(const std::string& target) {
    const PictureGeometry& g = picture_geometry;
    char view[160];
    snprintf(view, sizeof view, "--view %.10g,%.10g,%.6g", (double(ipos->x) - g.x0) / 2.0,
             (double(ipos->z) - g.z0) / 2.0, 2.0 * focal_length / double(ipos->y));
    std::string line = "quorvik ";
    if (!target.empty()) line += shell_word(target) + " ";
    return line + view;
}

float fit_height() {
    const double across = picture_geometry.width * focal_length / frame_width;
    const double down = picture_geometry.height * focal_length / frame_height;
    return float(std::max(across, down));
}

bool install_viewer_file(FILE* log) {
    const QvkPicture& p = *viewer_file;
    picture_geometry = p.geometry();
    fprintf(log, "opened %s: %u x %u pixels, %d levels, %llu bytes\n", p.name().c_str(), p.width(),
            p.height(), p.levels(), static_cast<unsigned long long>(p.file().header().file_length));
    if (!p.make_minimap(kMinimapSide, viewer_data.minimap)) return false;
    fprintf(log, "minimap %d x %d\n", viewer_data.minimap.w, viewer_data.minimap.h);
    fflush(log);
    minimap_rect = MinimapRect{0, 0, viewer_data.minimap.w, viewer_data.minimap.h};
    camera->set_position(float(picture_geometry.x0 + picture_geometry.width / 2), fit_height(),
                         float(picture_geometry.z0 + picture_geometry.height / 2));
    return true;
}
