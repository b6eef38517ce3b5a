/* Test plugin: four of the provider's five entry points, MAPILogoff absent. */
#include <stdint.h>

uint32_t MAPILogon(void) { return 0; }
uint32_t MAPIResolveName(void) { return 0; }
uint32_t MAPISendMail(void) { return 0; }
uint32_t MAPIFreeBuffer(void) { return 0; }
