// The call-out to the host: every request the plug-in sends travels in the
// library's one outgoing record. Each arity writes only the fields it names
// (A1 never); the rest keep what the previous call-out left there.
#pragma once

#include <cstdint>

uint32_t callHost(uint32_t category, int32_t operation);
uint32_t callHost(uint32_t category, int32_t operation, uint32_t object);
uint32_t callHost(uint32_t category, int32_t operation, uint32_t object, uint32_t a0);
uint32_t callHost(uint32_t category, int32_t operation, uint32_t object, uint32_t a0, uint32_t a2);
uint32_t callHost(uint32_t category, int32_t operation, uint32_t object, uint32_t a0, uint32_t a2,
                  uint32_t a3, uint32_t a4, uint32_t a5, uint32_t a6, uint32_t a7);
