#pragma once

#include "service/ServiceLog.h"

namespace velloq::modem {

using service::say;

}
