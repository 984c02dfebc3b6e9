// An imported picture. libvips builds a lazy pipeline (load, colour to 8-bit sRGB, resize to the
// world's 65536 x 32768, letterbox or crop), and each sub-image is computed from it on demand, so
// only the pixels of one sub-image are ever held here; libvips itself streams the input and, for
// formats that cannot be read out of order, keeps its decoded copy on disk.
#include <vips/vips8>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "builder/source.h"
#include "builder/vips_start.h"

namespace builder {
namespace {

class ImageSource : public Source {
  public:
    ImageSource(const std::string& path, Fit fit) : path_(path), fit_(fit) {
        ensure_vips();
        try {
            image_ = vips::VImage::new_from_file(path.c_str());
        } catch (const vips::VError& e) {
            throw std::runtime_error("cannot read " + path + ": " + vips_first_line(e.what()));
        }
        if (image_.width() <= 0 || image_.height() <= 0)
            throw std::runtime_error(path + " holds no pixels");
    }

    std::string describe() const override {
        return path_ + " (" + std::to_string(image_.width()) + " x " +
               std::to_string(image_.height()) + ")";
    }

    void sub_image(int sub, int size, Planes& out, Pool&) override {
        try {
            if (size != world_size_) {
                world_ = make_world(size);
                world_size_ = size;
            }
            const int col = sub % 4, row = sub / 4;
            vips::VImage area = world_.extract_area(col * size, row * size, size, size);
            size_t bytes = 0;
            uint8_t* mem = static_cast<uint8_t*>(area.write_to_memory(&bytes));
            if (!mem || bytes != size_t(size) * size * 3) {
                g_free(mem);
                throw std::runtime_error("libvips returned an unexpected buffer");
            }
            out.reset(size, size, 0);
            for (int y = 0; y < size; ++y) {
                const uint8_t* s = mem + size_t(y) * size * 3;
                uint8_t* r = out.at(0, 0, y);
                uint8_t* g = out.at(1, 0, y);
                uint8_t* b = out.at(2, 0, y);
                for (int x = 0; x < size; ++x) {
                    r[x] = s[3 * x];
                    g[x] = s[3 * x + 1];
                    b[x] = s[3 * x + 2];
                }
            }
            g_free(mem);
        } catch (const vips::VError& e) {
            throw std::runtime_error("cannot resample " + path_ + ": " + vips_first_line(e.what()));
        }
    }

  private:
    // The whole picture as an 8-bit sRGB image of 4 x 2 sub-images of `size` pixels.
    vips::VImage make_world(int size) const {
        const int W = 4 * size, H = 2 * size;
        vips::VImage im = image_;
        if (im.has_alpha()) im = im.flatten(vips::VImage::option()->set("background", 0.0));
        im = im.colourspace(VIPS_INTERPRETATION_sRGB);
        if (im.bands() > 3) im = im.extract_band(0, vips::VImage::option()->set("n", 3));
        if (im.bands() == 1) im = vips::VImage::bandjoin(std::vector<vips::VImage>{im, im, im});
        if (fit_ == Fit::native) {
            if (im.format() != VIPS_FORMAT_UCHAR) im = im.cast(VIPS_FORMAT_UCHAR);
            const int cw = std::min(im.width(), W), chh = std::min(im.height(), H);
            if (cw != im.width() || chh != im.height()) im = im.extract_area(0, 0, cw, chh);
            if (cw != W || chh != H)
                im = im.embed(0, 0, W, H, vips::VImage::option()->set("extend", VIPS_EXTEND_BLACK));
            return im;
        }
        const double sx = double(W) / im.width(), sy = double(H) / im.height();
        const double scale = fit_ == Fit::contain ? std::min(sx, sy) : std::max(sx, sy);
        im = im.resize(scale);
        if (im.format() != VIPS_FORMAT_UCHAR) im = im.cast(VIPS_FORMAT_UCHAR);
        // Rounding may leave the resized picture a pixel off; crop what is too big (centred),
        // then centre it on black.
        const int cw = std::min(im.width(), W), chh = std::min(im.height(), H);
        if (cw != im.width() || chh != im.height())
            im = im.extract_area((im.width() - cw) / 2, (im.height() - chh) / 2, cw, chh);
        if (cw != W || chh != H)
            im = im.embed((W - cw) / 2, (H - chh) / 2, W, H,
                          vips::VImage::option()->set("extend", VIPS_EXTEND_BLACK));
        return im;
    }

    std::string path_;
    Fit fit_;
    vips::VImage image_;
    vips::VImage world_;
    int world_size_ = 0;
};

}  // namespace

std::unique_ptr<Source> make_image_source(const std::string& path, Fit fit) {
    return std::make_unique<ImageSource>(path, fit);
}

}  // namespace builder
