// The player's side of the module interface.
#ifndef VELMORA_PLAYER_HOST_H
#define VELMORA_PLAYER_HOST_H
#endif
