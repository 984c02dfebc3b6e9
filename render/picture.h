#pragma once
// What the viewer shows: a folder data set (the world of 4 x 2 sub-images in five levels) or a
// one-file picture of any size and any number of levels. The view, the tiles, the overlays and
// the navigation read the picture's place in world coordinates from `picture_geometry`; world
// units are half a pixel of the finest level in both forms.
#include <cstdio>
#include <memory>
#include <string>

#include "store/format.h"

struct DataSet;
class QvkPicture;

struct PictureGeometry {
    // The picture's top-left corner and size in world units.
    double x0 = -kWorldOffset, z0 = -kWorldOffset;
    double width = kWorldWidth, height = kWorldHeight;
    // Pixels of the finest level.
    double pixels_w = kWorldWidth / 2, pixels_h = kWorldHeight / 2;
    int levels = 5;  // the finest level's number
};

// The geometry of the picture being shown; the folder form's world until a one-file picture is
// opened.
extern PictureGeometry picture_geometry;

// A picture to draw: exactly one of the two is set. Small and copied by value; what it points to
// must outlive every frame and prefetch that uses it.
struct Picture {
    const DataSet* folder = nullptr;
    const QvkPicture* file = nullptr;
    Picture() = default;
    Picture(const DataSet& data) : folder(&data) {}  // NOLINT: every folder caller passes one
    Picture(const QvkPicture& picture) : file(&picture) {}
};

// The viewer's one-file picture (null in the folder form) and the picture it shows.
extern std::unique_ptr<QvkPicture> viewer_file;
Picture viewer_picture();

// A view in picture terms (--view X,Y,S): centred on pixel (X, Y) of the finest level, at S
// screen pixels per picture pixel. A picture pixel is two world units in both forms; the folder
// form's picture is the world at level 5.
struct StartView {
    bool given = false;
    double x = 0, y = 0, scale = 1;
};

// Places the camera at `view` (the renderer keeps it at height 100 or more).
void apply_view(const StartView& view);

// The view shown now, as a command line that opens it again: "quorvik TARGET --view X,Y,S"
// (TARGET left out when empty; quoted when it holds characters a shell would split on).
std::string view_command(const std::string& target);

// The camera height at which the whole picture just fits the window (frame_width x
// frame_height with its focal_length).
float fit_height();

// Makes viewer_file the picture shown: its geometry, its minimap (into viewer_data.minimap and
// minimap_rect), the loading log's lines on `log`, and the camera over the whole picture,
// centred. False when memory runs out.
bool install_viewer_file(FILE* log);

// The sub-image number one-file tiles carry in their TileJob, beside the folder's 0..7.
constexpr int kFileSubImage = 8;
