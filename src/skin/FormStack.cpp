#include "skin/FormStack.h"

#include "platform/Ticks.h"
#include "platform/Utf.h"
#include "shell/Application.h"
#include "shell/ApplicationListener.h"
#include "shell/Registry.h"
#include "skin/FontRep.h"
#include "skin/Form.h"

#include <algorithm>

namespace velloq {

namespace {

constexpr size_t kept_frame_times = 20;

void copy_surface(RenderSurface& into, RenderSurface const& from)
{
    into.recreate(from.width(), from.height());
    if (into.picture() && from.picture())
        blit(*into.picture(), 0, 0, from.width(), from.height(), *from.picture(), 0, 0, into.target().rect, CopyRowOp());
}

}

FormTransition::FormTransition(Form& form, VisibilityAnimation::Kind kind)
    : m_form(form)
    , m_animation(kind)
{
}

void FormTransition::start(RenderSurface const& background, int32_t direction)
{
    copy_surface(m_background, background);
    m_picture.recreate(m_form.size().x, m_form.size().y);
    if (m_picture.picture()) {
        m_picture.picture()->fill(0xF81F);
        m_form.draw_self(m_picture.target(), { -m_form.position().x, -m_form.position().y });
    }
    m_animation.start(direction);
}

void FormTransition::draw(DrawTarget const& target) const
{
    if (m_background.picture())
        m_background.draw_to(target, { 0, 0 }, CopyRowOp());
    m_animation.draw(m_picture, target, m_form.rect());
}

FormStack::FormStack(Application& application)
    : m_application(application)
{
}

FormStack::~FormStack() = default;

Form* FormStack::top() const
{
    return m_entries.empty() ? nullptr : m_entries.back().form;
}

bool FormStack::top_is_overlay() const
{
    return !m_entries.empty() && m_entries.back().overlay;
}

bool FormStack::contains(Form const& form) const
{
    return std::any_of(m_entries.begin(), m_entries.end(), [&](Entry const& entry) { return entry.form == &form; });
}

bool FormStack::frame_overlay_wanted()
{
    bool wanted = false;
    reg_get_bool(registry_key::program, u"FrameTimes", wanted);
    return wanted;
}

void FormStack::lay_out(Form& form)
{
    Rect client = m_application.client_rect();
    m_client_width = client.width;
    m_client_height = client.height;
    form.set_horizontal(0, client.width);
    form.set_vertical(0, client.height);
}

void FormStack::draw_alone(Form& form)
{
    lay_out(form);
    m_surface.recreate(m_client_width, m_client_height);
    if (!m_surface.picture())
        return;
    m_surface.picture()->fill(form.outside_colour().to_565());
    form.draw(m_surface.target(), {});
}

void FormStack::notify_visible(Form& form, bool visible)
{
    form.set_visible(visible);
    if (!visible)
        form.end_input();
}

void FormStack::make_visible_animated(Form& form)
{
    if (form.animation())
        form.show_animated(true);
    else
        form.set_visible(true);
}

std::unique_ptr<FormTransition> FormStack::make_transition(Form& form, bool animate)
{
    if (!animate || !form.animation())
        return nullptr;
    return std::make_unique<FormTransition>(form, form.animation()->kind());
}

void FormStack::show(Form& form, bool overlay, bool animate)
{
    m_application.set_needs_redraw();
    lay_out(form);
    Form* current = top();
    if (!current) {
        notify_visible(form, true);
    } else if (overlay) {
        m_transition.reset();
        if (!top_is_overlay())
            draw_alone(*current);
        notify_visible(*current, false);
        make_visible_animated(form);
    } else if (m_transition && m_transition->direction() < 0 && &m_transition->form() == &form && animate) {
        m_transition->reverse();
        notify_visible(*current, false);
        notify_visible(form, true);
    } else {
        m_transition = make_transition(form, animate);
        if (top_is_overlay()) {
            if (!m_transition) {
                m_surface.clear();
            } else if (m_surface.picture()) {
                draw_through_dim(*m_surface.picture(), m_dim);
                current->draw(m_surface.target(), {});
            }
            m_dim = undimmed;
        } else if (m_transition) {
            draw_alone(*current);
        }
        notify_visible(*current, false);
        notify_visible(form, true);
        if (m_transition)
            m_transition->start(m_surface, 1);
    }
    m_entries.push_back({ &form, overlay });
    if (auto* listener = m_application.listener())
        listener->on_form_shown(&form);
}

bool FormStack::hide(Form& form, bool animate)
{
    auto found = std::find_if(m_entries.begin(), m_entries.end(), [&](Entry const& entry) { return entry.form == &form; });
    if (found == m_entries.end())
        return false;
    m_application.set_needs_redraw();
    if (auto* listener = m_application.listener())
        listener->on_form_hidden(&form);
    if (found + 1 != m_entries.end()) {
        notify_visible(form, false);
        m_entries.erase(found);
        return true;
    }
    bool was_overlay = found->overlay;
    m_entries.pop_back();
    if (m_entries.empty()) {
        notify_visible(form, false);
        m_transition.reset();
        return true;
    }
    Form& next = *top();
    if (m_transition && m_transition->direction() > 0 && &m_transition->form() == &form && animate) {
        notify_visible(form, false);
        notify_visible(next, true);
        lay_out(next);
        m_transition->reverse();
        return true;
    }
    m_transition.reset();
    if (was_overlay) {
        notify_visible(form, false);
        if (top_is_overlay()) {
            make_visible_animated(next);
        } else {
            m_surface.clear();
            notify_visible(next, true);
        }
    } else {
        m_transition = make_transition(form, animate);
        if (top_is_overlay()) {
            // The nearest full form below the overlay is the frozen background.
            for (auto entry = m_entries.rbegin(); entry != m_entries.rend(); ++entry) {
                if (!entry->overlay) {
                    draw_alone(*entry->form);
                    break;
                }
            }
            make_visible_animated(next);
        } else {
            notify_visible(next, true);
            if (m_transition)
                draw_alone(next);
        }
        if (m_transition) {
            lay_out(form);
            m_transition->start(m_surface, -1);
        }
        notify_visible(form, false);
    }
    lay_out(next);
    return true;
}

void FormStack::advance(double seconds, int32_t client_width, int32_t client_height)
{
    m_client_width = client_width;
    m_client_height = client_height;
    if (m_transition) {
        m_transition->advance(seconds);
        if (m_transition->direction() == 0)
            m_transition.reset();
        m_application.set_needs_redraw();
        if (m_transition)
            return;
    }
    Form* current = top();
    if (!current)
        return;
    current->set_horizontal(0, client_width);
    current->set_vertical(0, client_height);
    current->advance(seconds);
}

bool FormStack::wants_redraw() const
{
    return m_transition || (top() && top()->needs_redraw()) || m_dim != (top_is_overlay() ? dimmed : undimmed);
}

void FormStack::draw_through_dim(Bitmap565& target, int32_t level) const
{
    uint32_t factor = static_cast<uint32_t>(std::clamp((level + 8) / 16, 0, 16));
    if (factor < 16)
        apply_in_place(target, { 0, 0, target.width(), target.height() }, DimRowOp(DimPixel { factor }));
}

void FormStack::draw(Bitmap565& target)
{
    DrawTarget whole { { 0, 0, target.width(), target.height() }, &target };
    uint16_t clear = m_application.clear_colour().to_565();
    Form* current = top();
    if (m_transition) {
        target.fill(clear);
        m_transition->draw(whole);
    } else if (!current) {
        target.fill(clear);
    } else {
        current->set_horizontal(0, m_client_width);
        current->set_vertical(0, m_client_height);
        if (top_is_overlay()) {
            if (m_surface.picture())
                blit(target, 0, 0, m_surface.width(), m_surface.height(), *m_surface.picture(), 0, 0, whole.rect, CopyRowOp());
            else
                target.fill(clear);
            draw_through_dim(target, m_dim);
            if (m_dim != dimmed) {
                m_application.set_needs_redraw();
                m_dim = std::max(dimmed, m_dim - 16);
            }
        } else {
            target.fill(current->outside_colour().to_565());
        }
        current->draw(whole, {});
    }
    if (!current || !top_is_overlay()) {
        draw_through_dim(target, m_dim);
        if (m_dim != undimmed) {
            m_application.set_needs_redraw();
            m_dim = std::min(undimmed, m_dim + 16);
        }
    }
    if (frame_overlay_wanted())
        draw_frame_overlay(target);
}

void FormStack::draw_frame_overlay(Bitmap565& target)
{
    m_frame_times.push_back(platform::tick_count());
    if (m_frame_times.size() > kept_frame_times)
        m_frame_times.pop_front();
    apply_in_place(target, { 0, 0, 150, 20 }, DimRowOp(DimPixel { 8 }));
    if (m_frame_times.size() < 2)
        return;
    if (!m_overlay_font)
        m_overlay_font = std::make_unique<FontRep>(FontDescription { 10, 1, false, false, false, u"Tahoma" }, m_application.screen_info().dpi);
    double average = double(m_frame_times.back() - m_frame_times.front()) / double(m_frame_times.size() - 1);
    Colour colour { 64, 255, 64, 255 };
    if (average > 60)
        colour = { 255, 64, 64, 255 };
    else if (average > 40)
        colour = { 255, static_cast<uint8_t>(64 + 191 * (1 - (average - 40) * 0.05)), 64, 255 };
    else if (average > 20)
        colour = { static_cast<uint8_t>(64 + 191 * (average - 20) * 0.05), 255, 64, 255 };
    int32_t whole = static_cast<int32_t>(average);
    int32_t tenth = static_cast<int32_t>((average - whole) * 10);
    std::u16string text = to_u16_decimal(whole) + u"." + to_u16_decimal(tenth) + u" ms";
    // The brackets mark a frame that took longer than the average.
    uint32_t last = m_frame_times.back() - m_frame_times[m_frame_times.size() - 2];
    if (last > average)
        text = u"[" + text + u"]";
    text += u" " + to_u16_decimal(RenderSurface::pixels_alive() / 1000) + u" Kp";
    m_overlay_font->draw({ intersection({ 0, 0, 160, 20 }, { 0, 0, target.width(), target.height() }), &target }, 2, 2, text, colour.to_565());
}

void FormStack::pointer_move(PointerEvent const& event)
{
    if (Form* current = top())
        current->pointer_move(event);
}

void FormStack::pointer_button(PointerEvent const& event)
{
    if (Form* current = top())
        current->pointer_button(event);
}

void FormStack::wheel(PointerEvent const& event, int32_t thousandths)
{
    if (Form* current = top())
        current->wheel(event, thousandths);
}

void FormStack::pinch(PointerEvent const& event, double factor)
{
    if (Form* current = top())
        current->pinch(event, factor);
}

void FormStack::key(KeyEvent const& event)
{
    if (Form* current = top())
        current->key(event);
}

void FormStack::text_input(std::u16string const& text)
{
    if (Form* current = top())
        current->text_input(text);
}

}
