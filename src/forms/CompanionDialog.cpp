#include "forms/CompanionDialog.h"

#include "forms/SkinBinding.h"
#include "shell/Application.h"
#include "shell/Platform.h"
#include "skin/ButtonElement.h"
#include "skin/FormStack.h"
#include "skin/Properties.h"

namespace velloq {

CompanionDialog::CompanionDialog(Application& application, FormStack& stack, Properties& skin)
    : m_application(application)
    , m_stack(stack)
    , m_skin(skin)
{
    build_required(*this, m_skin, section_name);
    bind_element(*this, section_name, u"text");
    m_install = &bind_element<ButtonElement>(*this, section_name, u"btnInstall");
    m_about = &bind_element<ButtonElement>(*this, section_name, u"btnAbout");
    m_close = &bind_element<ButtonElement>(*this, section_name, u"btnClose");
    m_install->on_press = [this] { visit(u"InstallPomelixLink"); };
    m_about->on_press = [this] { visit(u"AboutPomelixLink"); };
    m_close->on_press = [this] { m_stack.hide(*this, true); };
}

void CompanionDialog::show()
{
    m_stack.hide(*this, false);
    m_stack.show(*this, true, true);
}

// The links are web addresses: they go to the browser, as a message's links do.
void CompanionDialog::visit(char16_t const* link)
{
    m_application.set_asleep();
    execute_file(u"%windows%/iexplore.exe", m_skin.language().text_of(link));
    m_stack.hide(*this, true);
}

}
