#pragma once
// The whole KVMC codec: the encoder and the decoder.
#include "kvmc/KvmcDecoder.h"
#include "kvmc/KvmcEncoder.h"
