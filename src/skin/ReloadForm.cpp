#include "skin/ReloadForm.h"

#include "skin/FormStack.h"
#include "skin/Properties.h"

namespace velloq {

ReloadForm::ReloadForm(FormStack& stack, Properties& skin)
    : m_stack(stack)
    , m_skin(skin)
{
}

void ReloadForm::advance(double seconds)
{
    Form::advance(seconds);
    if (m_done || !m_stack.contains(*this))
        return;
    // The form has been drawn once, so the user sees it while the texts are taken again.
    m_done = true;
    m_skin.send_reload_skin();
    m_stack.hide(*this, false);
    m_done = false;
}

}
