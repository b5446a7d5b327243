#include "download/transfer_observer.h"

// One process-wide record; built during static initialisation, before any
// thread starts, and never filled by this system.
static CredentialStore g_credentialStore;

CredentialStore& TheCredentialStore() { return g_credentialStore; }
