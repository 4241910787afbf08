// The bridge between cpp-httplib's requests and the service's handling.
#pragma once

#include <httplib.h>

#include "Service.h"

ServiceRequest FromHttplib(const httplib::Request& q);
