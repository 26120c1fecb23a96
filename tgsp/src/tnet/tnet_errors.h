// Result codes of the socket and HTTP message modules.
#pragma once

#define TNET_ERR_STARTUP       (-180001)  // socket start-up failed
#define TNET_ERR_WOULDBLOCK    (-180013)  // would block, nothing transferred
#define TNET_ERR_RECV          (-180015)  // recv failed
#define TNET_ERR_SEND          (-180016)  // send failed
#define TNET_ERR_NONBLOCK      (-180018)  // socket cannot be made non-blocking
#define TNET_ERR_NO_REASON     (-181005)  // status has no reason phrase
