#pragma once

#include "shell/Input.h"
#include "skin/Form.h"

namespace velloq {

class Application;
class ChatModel;
class FormMain;
class FormStack;
class Properties;

// A form the chat list owns: it shows itself on the application's stack, builds itself from the
// main skin, works on the chat model and calls back into the chat list.
class OwnedForm : public Form {
protected:
    OwnedForm(Application& application, FormStack& stack, Properties& skin, ChatModel& model, FormMain& owner)
        : m_application(application)
        , m_stack(stack)
        , m_skin(skin)
        , m_model(model)
        , m_owner(owner)
    {
    }

    // What the back key (Escape) does when the form's edit did not take it.
    virtual void go_back() = 0;
    bool on_form_key(KeyEvent const& event) override
    {
        if (event.code != Key::Backspace)
            return false;
        if (event.pressed)
            go_back();
        return true;
    }

    Application& m_application;
    FormStack& m_stack;
    Properties& m_skin;
    ChatModel& m_model;
    FormMain& m_owner;
};

}
