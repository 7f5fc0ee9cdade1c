// Inside the control shapes and icons: keeping a context's settings.
#pragma once
#include "gdi/gdi.h"

namespace shade {

// Puts back the pen, fill colour and clip of a context when it goes out of
// scope.
class Keep {
public:
    explicit Keep(DC *dc)
        : dc_(dc), pen_colour_(dc->pen_colour), pen_width_(dc->pen_width),
          pen_style_(dc->pen_style), pattern_(dc->pen_pattern), mask_(dc->pattern_mask),
          fill_(dc->fill_colour), clip_(dc->clip) {}
    ~Keep() {
        dc_->pen_colour = pen_colour_;
        dc_->pen_width = pen_width_;
        dc_->pen_style = pen_style_;
        dc_->pen_pattern = pattern_;
        dc_->pattern_mask = mask_;
        dc_->fill_colour = fill_;
        dc_->clip = clip_;
    }
    Keep(const Keep &) = delete;
    Keep &operator=(const Keep &) = delete;
    COLOR pen_colour() const { return pen_colour_; }
    COLOR fill() const { return fill_; }

private:
    DC *dc_;
    COLOR pen_colour_;
    int16_t pen_width_, pen_style_;
    uint8_t pattern_, mask_;
    COLOR fill_;
    RECT clip_;
};

} // namespace shade
