// Restarting Windows after a restore that needs it.
#pragma once

bool Reboot();
