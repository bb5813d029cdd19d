#include "forms/AboutPanel.h"

#include "forms/SkinBinding.h"
#include "skin/ButtonElement.h"
#include "skin/FormStack.h"
#include "skin/TextElement.h"

namespace velloq {

AboutPanel::AboutPanel(FormStack& stack, Properties& skin)
    : m_stack(stack)
{
    build_required(*this, skin, section_name);
    bind_element(*this, section_name, u"name");
    bind_element<TextElement>(*this, section_name, u"version").set_text(skin.language().text_of(u"Version") + u" " VELLOQ_VERSION);
    m_close = &bind_element<ButtonElement>(*this, section_name, u"btnClose");
    m_close->on_press = [this] { m_stack.hide(*this, true); };
}

void AboutPanel::show()
{
    m_stack.hide(*this, false);
    m_stack.show(*this, true, true);
}

}
