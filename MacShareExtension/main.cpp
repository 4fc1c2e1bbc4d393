// The share extension's program. It will take the shared link from its
// arguments and queue it for Listen Later; for now it only records that it ran.

#include "platform/log/Log.h"

int main(int argc, char**) {
    const platform::Logger log("com.kelvatrum.Parlowen.MacShareExtension", "share");
    log.info("launch arguments={}", argc - 1);
    return 0;
}
