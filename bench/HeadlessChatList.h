#pragma once

#include "BenchDevice.h"
#include "forms/FormChat.h"
#include "forms/FormMain.h"
#include "messaging/AlertRegistration.h"
#include "messaging/ChatModel.h"
#include "platform/Utf.h"
#include "shell/Application.h"
#include "skin/ElementRegistry.h"
#include "skin/FormStack.h"
#include "skin/Properties.h"

#include <cstdlib>
#include <memory>

namespace velloq::bench {

// The program's chat list on the benchmark device, headless at 480×800: the application and
// its form stack, the chat model read from the store, the main skin and the chat list on top.
// `ready()` is false when the main skin cannot be loaded.
class HeadlessChatList {
public:
    HeadlessChatList()
    {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        setenv("VELLOQ_SCREEN", "480x800", 1);
        m_application.set_content(&m_stack);
        m_application.set_windowed(false);
        m_application.set_fullscreen(0);
        m_model.update_chats(false);
        m_model.assign_contacts();
        m_skin.language().load_language(u"Velloq");
        if (!m_skin.load_skin(u"%app_path%/skins/bin/default.skin", m_application.screen_info()))
            return;
        m_chats = std::make_unique<FormMain>(m_application, m_stack, m_skin, m_model, m_alerts);
        m_stack.show(*m_chats, false, false);
    }
    ~HeadlessChatList()
    {
        m_chats.reset();
        m_application.set_content(nullptr);
    }

    bool ready() const { return m_chats != nullptr; }
    Application& application() { return m_application; }
    FormStack& stack() { return m_stack; }
    ChatModel& model() { return m_model; }
    FormMain& chats() { return *m_chats; }
    // One frame as the main loop makes it: advance, draw into the display's back buffer, present.
    void frame()
    {
        m_application.advance(0.016);
        if (Display* display = m_application.game().display()) {
            display->begin();
            m_application.draw(*display->back_buffer());
            display->end(0);
            return;
        }
        // While a field has the input (a chat opens so on a desktop) the program draws into a
        // frame of the client's size for its window, not through the display.
        Rect client = m_application.client_rect();
        if (!m_typing_frame || m_typing_frame->width() != client.width || m_typing_frame->height() != client.height)
            m_typing_frame = Bitmap565::create(client.width, client.height);
        m_application.draw(*m_typing_frame);
    }
    // Opens the chat as the chat list does from a tap, and draws its first frame.
    void open_chat(Chat const& chat)
    {
        m_stack.hide(m_chats->chat_form(), false);
        m_chats->open_chat({ chat.name, chat.address, chat.phone_label, chat.key, chat.contact_id, 0 });
        frame();
    }

private:
    std::unique_ptr<Bitmap565> m_typing_frame;
    ElementTypes m_types;
    Application m_application { u"Velloq" };
    FormStack m_stack { m_application };
    ChatModel m_model { { to_utf16(bench_device()) + u"/cache", u"/bin/true", bench_device() + "/contacts" } };
    Properties m_skin;
    AlertRegistration m_alerts { u"%app_path%/velloq" };
    std::unique_ptr<FormMain> m_chats;
};

}
