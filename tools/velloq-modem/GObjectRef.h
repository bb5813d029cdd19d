#pragma once

#include "service/GObjectRef.h"

namespace velloq::modem {

using service::GErrorHolder;
using service::GObjectUnref;
using service::GRef;
using service::SignalConnection;

}
