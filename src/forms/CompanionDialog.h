#pragma once

#include "skin/BasicElements.h"
#include "skin/Form.h"

namespace velloq {

class Application;
class ButtonElement;
class FormStack;
class Properties;

// Offered when the companion contact program is missing: its text and a button to install it,
// one to read about it, and one to close the dialog. The buttons open the addresses the
// language texts "InstallPomelixLink" and "AboutPomelixLink" hold.
class CompanionDialog final : public Form {
public:
    static constexpr char16_t const* section_name = u"FormCompanion";

    CompanionDialog(Application&, FormStack&, Properties& skin);
    void show();

private:
    void visit(char16_t const* link);

    Application& m_application;
    FormStack& m_stack;
    Properties& m_skin;
    ButtonElement* m_install { nullptr };
    ButtonElement* m_about { nullptr };
    ButtonElement* m_close { nullptr };
};

}
