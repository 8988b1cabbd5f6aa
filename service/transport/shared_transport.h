#pragma once
// Internal to the transport library: what every request of the process
// shares, so that a request after the first costs neither a new TCP
// connection, nor a full TLS handshake, nor another parse of the trust store.
#include <curl/curl.h>

#include <memory>

namespace quillora::transport_detail {

// One generation of shared state: the trust store that verifies peers (the
// system store plus the configured CA file, parsed once) and a libcurl share
// of connections, TLS sessions and DNS answers, guarded by its own locks so
// any thread may use it. A new generation starts when the CA file changes, so
// nothing verified under the old trust (an open connection, a resumable TLS
// session) is used again.
class SharedTransport;

// Keeps a generation alive while an easy handle is attached to it. Release
// it only after the handle was cleaned up or attached to another generation.
using SharedTransportRef = std::shared_ptr<SharedTransport>;

// Attaches `easy` to the current generation: peers are verified against its
// trust store (the handle's own CA file and path are cleared) and the handle
// uses its share. On success `holder` takes the generation, releasing the
// one the handle had before. False when the handle could not be attached;
// the request must then not be made.
bool AttachSharedTransport(CURL* easy, SharedTransportRef& holder);

}  // namespace quillora::transport_detail
