#include "app/picture_view.h"

#include "render/qvk_picture.h"

bool open_viewer_file(const std::string& path, std::string& error) {
    viewer_file = QvkPicture::open(path, error);
    return viewer_file != nullptr;
}
