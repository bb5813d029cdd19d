#pragma once

#include "skin/ElementCache.h"

#include <memory>
#include <string_view>

namespace velloq {

// How an element appears and goes: its own surface drawn moving, growing or turning over
// about 200 ms, forwards while showing and backwards while hiding.
class VisibilityAnimation {
public:
    enum class Kind {
        Scale,
        Pop,
        Right,
        Bottom,
        Left,
        Top,
        Flip,
    };
    static constexpr double duration_seconds = 0.2;

    // Null for an unknown name.
    static std::unique_ptr<VisibilityAnimation> make(std::u16string_view name);
    explicit VisibilityAnimation(Kind kind);

    Kind kind() const { return m_kind; }
    // +1 showing, -1 hiding, 0 ended.
    int32_t direction() const { return m_direction; }
    bool is_running() const { return m_direction != 0; }
    double progress() const { return m_progress; }

    void start(int32_t direction);
    void reverse() { m_direction = -m_direction; }
    void advance(double seconds);
    void set_cache(std::unique_ptr<ElementCache> cache) { m_cache = std::move(cache); }
    // Draws the element's surface for the present moment into its rectangle on the target.
    void draw(RenderSurface const& surface, DrawTarget const& target, Rect const& rect) const;

private:
    Kind m_kind;
    int32_t m_direction { 0 };
    double m_progress { 1.0 };
    std::unique_ptr<ElementCache> m_cache;
};

}
