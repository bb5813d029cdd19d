// velloq-chats [--follow SECONDS]: builds the chats of the device's message store as the program
// does (cache, store, contacts from the device folder's contacts/), prints one line per chat
// (key, title, unread, messages, newest text), and with --follow keeps them in step once a
// second, printing every change, for as many seconds as asked.
#include "messaging/ChatModel.h"
#include "platform/Utf.h"

#include "platform/Folders.h"

#include <charconv>
#include <chrono>
#include <cstring>
#include <iostream>
#include <thread>

using namespace velloq;

namespace {

class Printer final : public ChatListener {
public:
    void on_document_refresh(ChatEvent const& event) override
    {
        std::cout << "event " << static_cast<int>(event.kind) << " at " << event.index;
        if (event.chat)
            std::cout << " " << terminal_text(event.chat->title());
        std::cout << "\n";
    }
};

void print_chats(ChatModel& model)
{
    for (auto const& chat : model.chats()) {
        std::u16string newest;
        if (!chat->messages.empty()) {
            MessageRecord& last = chat->messages.back();
            model.read_message(last);
            newest = last.text;
        }
        // The chat holds its newest messages; the store's index counts them all.
        auto count = model.count_messages(*chat).value_or(static_cast<int64_t>(chat->messages.size()));
        std::cout << terminal_text(chat->key) << "\t" << terminal_text(chat->title()) << "\t" << chat->unread << "\t" << count << "\t"
                  << terminal_text(newest) << "\n";
    }
}

}

int main(int argc, char** argv)
{
    int seconds = 0;
    if (argc == 3 && std::strcmp(argv[1], "--follow") == 0) {
        auto result = std::from_chars(argv[2], argv[2] + std::strlen(argv[2]), seconds);
        if (result.ec != std::errc() || seconds < 0) {
            std::cerr << "velloq-chats: --follow takes a number of seconds\n";
            return 2;
        }
    } else if (argc != 1) {
        std::cerr << "usage: velloq-chats [--follow SECONDS]\n";
        return 2;
    }
    ChatModel model(ChatModel::Options { {}, u"%app_path%/velloq", {} });
    model.update_chats(false);
    // No chats because the messages cannot be read is not "no chats".
    if (auto problem = model.store_problem()) {
        std::cerr << "velloq-chats: the messages in " << platform::device_folder() << " cannot be read: " << *problem << "\n";
        return 1;
    }
    model.assign_contacts();
    print_chats(model);
    Printer printer;
    model.add_listener(&printer);
    for (int second = 0; second < seconds; ++second) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        model.poll_contacts();
        if (model.update_chats(true))
            model.name_chats();
    }
    return 0;
}
