#include "shell/Application.h"

#include "shell/FrameContent.h"
#include "shell/Log.h"

namespace velloq {

Application::Application(std::u16string name, WindowStart start)
    : m_name(std::move(name))
{
    m_game = std::make_unique<GameBase>(*this, m_name, start);
    log() << u"Application::Application() this=" << static_cast<void const*>(this) << u"\n";
}

Application::~Application()
{
    log() << u"Application::~Application()\n";
    m_game.reset();
}

void Application::set_content(FrameContent* content)
{
    m_content = content;
    m_needs_redraw = true;
}

void Application::advance(double seconds)
{
    if (!m_content || m_content->is_empty())
        return;
    Rect client = client_rect();
    m_content->advance(seconds, client.width, client.height);
}

bool Application::wants_redraw() const
{
    return m_needs_redraw || m_needed_redraw || (m_content && m_content->wants_redraw());
}

void Application::draw(Bitmap565& target)
{
    m_needed_redraw = m_needs_redraw;
    m_needs_redraw = false;
    if (!m_content || m_content->is_empty()) {
        target.fill(Bitmap565::rgb(m_clear_colour.red, m_clear_colour.green, m_clear_colour.blue));
        return;
    }
    m_content->draw(target);
}

void Application::key(KeyEvent const& event)
{
    if (m_content && !m_content->is_empty())
        m_content->key(event);
}

void Application::text_input(std::u16string const& text)
{
    if (m_content && !m_content->is_empty())
        m_content->text_input(text);
}

void Application::pointer_move(PointerEvent const& event)
{
    if (m_content && !m_content->is_empty())
        m_content->pointer_move(event);
}

void Application::wheel(PointerEvent const& event, int32_t thousandths)
{
    if (m_content && !m_content->is_empty())
        m_content->wheel(event, thousandths);
}

void Application::pinch(PointerEvent const& event, double factor)
{
    if (m_content && !m_content->is_empty())
        m_content->pinch(event, factor);
}

void Application::pointer_button(PointerEvent const& event)
{
    if (m_content && !m_content->is_empty())
        m_content->pointer_button(event);
}

}
