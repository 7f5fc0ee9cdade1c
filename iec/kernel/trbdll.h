// Plug-in libraries of the runtime: the optional library of extra function
// blocks ("./libtrblocks.so") and the optional SNMP agent ("libtrsnmp.so"),
// both loaded from the root folder when present.
//
// The block library exports TrBlocks_IsValid (non-zero: usable) and
// TrBlocks_GetBlockName (identifier from 1; null after the last), and one
// handler per block under the block's name. The SNMP plug-in exports
// TrSNMP_SetFolderMIB, TrSNMP_StartAgent and TrSNMP_StopAgent.
#pragma once
#include <cstddef>
#include <cstdint>

// The one entry point of an IEC function block: handler(command, database,
// class data, instance data, argument pointer).
using TrBlockHandler = uint32_t (*)(uint16_t command, uint8_t *db, uint8_t *class_data,
                                    uint8_t *instance_data, uint16_t args);

// What the library exports, as this runtime calls it.
using TrBlocksIsValidFn = int (*)();
using TrBlocksGetBlockNameFn = const char *(*)(uint32_t id);
// The SNMP agent asks for item texts through the callback it is given.
using TrSnmpValueCb = int (*)(void *instance, int item, char *text, size_t size);
using TrSnmpSetFolderFn = void (*)(const char *folder);
using TrSnmpStartFn = int (*)(const char *agent, TrSnmpValueCb cb, void *instance);
using TrSnmpStopFn = void (*)();

// 1 when the block library is loaded (and kept), else 0.
uint32_t TrBdll_OpenDynaLinks();
void TrBdll_CloseDynaLinks();
int TrBdll_StartEnumerate(); // 1 when a library is loaded
void TrBdll_StopEnumerate();
// Identifiers from 1: *id in and out; 0 at the end.
uint32_t TrBdll_GetFirstID(uint32_t *id);
uint32_t TrBdll_GetNextID(uint32_t *id);
const char *TrBdll_GetName(uint32_t id);
TrBlockHandler TrBdll_GetProc(uint32_t id);

// 1 when the agent was started.
int TrRT_LoadSnmp(const char *agent, const char *mib_folder);
void TrRT_UnloadSnmp();
void TrRT_SetDB(uint8_t *db);
// The text of item 1-7 into text (size bytes); 0 for another instance or
// another item.
int cbFunc(void *instance, int item, char *text, size_t size);

void TrBdll_Reset();
