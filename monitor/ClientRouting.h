#pragma once

class vmsgMsgPort;

// The two handlers of the message port: client log-ons and lost connections, and every message that
// is not a reply. Both run inside vmsgScheduler on the user-interface thread.

// event > 0: a client logged on; 0 or -2: the connection was lost (the kernel's included).
void OnClientNotify(int handle, int event, long user);
// message: valid during the call only.
void OnNonReplyMessage(int kind, vmsgMsgPort* message);
