#pragma once

#include "shell/Fatal.h"

namespace velloq {

// A class with one process-wide instance: a second one is a broken rule and ends the process.
template<typename T>
class Singleton {
public:
    static T* instance() { return s_instance; }

protected:
    Singleton()
    {
        if (s_instance)
            fatal(u"Singleton::Singleton()", u"Singleton is already instantiated");
        s_instance = static_cast<T*>(this);
    }
    ~Singleton() { s_instance = nullptr; }
    Singleton(Singleton const&) = delete;
    Singleton& operator=(Singleton const&) = delete;

private:
    static inline T* s_instance { nullptr };
};

}
