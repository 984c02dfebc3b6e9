// An image file at its own size, row by row (builder/row_source.h). libvips opens it for
// sequential access, so a format that decodes top to bottom (JPEG, PNG, TIFF strips) is decoded
// once, in step with the strips asked for, and only those strips are held.
#include <vips/vips8>

#include <cstring>
#include <stdexcept>

#include "builder/row_source.h"
#include "builder/vips_start.h"
#include "store/qvk_format.h"

namespace builder {
namespace {

class ImageRows : public RowSource {
  public:
    explicit ImageRows(const std::string& path) : path_(path) {
        ensure_vips();
        try {
            vips::VImage im = vips::VImage::new_from_file(
                path.c_str(), vips::VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
            if (im.width() <= 0 || im.height() <= 0)
                throw std::runtime_error("cannot read " + path + ": it holds no pixels");
            if (uint32_t(im.width()) > kQvkMaxSide || uint32_t(im.height()) > kQvkMaxSide)
                throw std::runtime_error(
                    "cannot read " + path + ": it is " + std::to_string(im.width()) + " x " +
                    std::to_string(im.height()) + " pixels; a side may be at most " +
                    std::to_string(kQvkMaxSide));
            // 8-bit sRGB, three bands: what the tiles hold.
            if (im.has_alpha()) im = im.flatten(vips::VImage::option()->set("background", 0.0));
            im = im.colourspace(VIPS_INTERPRETATION_sRGB);
            if (im.bands() > 3) im = im.extract_band(0, vips::VImage::option()->set("n", 3));
            if (im.bands() == 1) im = vips::VImage::bandjoin(std::vector<vips::VImage>{im, im, im});
            if (im.format() != VIPS_FORMAT_UCHAR) im = im.cast(VIPS_FORMAT_UCHAR);
            image_ = im;
        } catch (const vips::VError& e) {
            throw std::runtime_error("cannot read " + path + ": " + vips_first_line(e.what()));
        }
        width_ = uint32_t(image_.width());
        height_ = uint32_t(image_.height());
    }

    uint32_t width() const override { return width_; }
    uint32_t height() const override { return height_; }
    std::string describe() const override {
        return path_ + " (" + std::to_string(width_) + " x " + std::to_string(height_) + ")";
    }

    void rows(uint32_t y0, uint32_t n, uint8_t* rgb, size_t stride) override {
        const size_t row = size_t(width_) * 3;
        size_t bytes = 0;
        void* mem = nullptr;
        try {
            mem = image_.extract_area(0, int(y0), int(width_), int(n)).write_to_memory(&bytes);
        } catch (const vips::VError& e) {
            throw std::runtime_error("cannot read " + path_ + " at row " + std::to_string(y0) +
                                     ": " + vips_first_line(e.what()));
        }
        if (!mem || bytes != row * n) {
            g_free(mem);
            throw std::runtime_error("cannot read " + path_ + ": libvips returned " +
                                     std::to_string(bytes) + " bytes for " + std::to_string(n) +
                                     " rows");
        }
        const uint8_t* src = static_cast<const uint8_t*>(mem);
        for (uint32_t i = 0; i < n; ++i)
            memcpy(rgb + size_t(i) * stride, src + size_t(i) * row, row);
        g_free(mem);
    }

  private:
    std::string path_;
    vips::VImage image_;
    uint32_t width_ = 0, height_ = 0;
};

}  // namespace

std::unique_ptr<RowSource> make_image_rows(const std::string& path) {
    return std::make_unique<ImageRows>(path);
}

}  // namespace builder
