#include "platform/outbound/CurlGlobal.h"

#include <curl/curl.h>

CurlGlobal::CurlGlobal() : m_ready(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {}

CurlGlobal::~CurlGlobal() {
    if (m_ready)
        curl_global_cleanup();
}
