#include "platform/process_token_win.h"

#include "platform/unique_handle_win.h"

namespace {

// The token information of the given class in a block of its own size.
HeapBlock TokenInformation(TOKEN_INFORMATION_CLASS kind) {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return HeapBlock();
    DWORD size = 0;
    GetTokenInformation(token.Get(), kind, nullptr, 0, &size);
    if (size == 0) return HeapBlock();
    HeapBlock block(size);
    if (!block || !GetTokenInformation(token.Get(), kind, block.Get(), size, &size)) return HeapBlock();
    return block;
}

bool HasWellKnownSid(PSID candidate, BYTE count, DWORD first, DWORD second) {
    SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, count, first, second, 0, 0, 0, 0, 0, 0, &sid)) return false;
    bool equal = candidate && EqualSid(candidate, sid) != FALSE;
    FreeSid(sid);
    return equal;
}

// Membership of the Administrators group (S-1-5-32-544), enabled in the token.
bool IsAdministratorsMember() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                  0, 0, &administrators))
        return false;
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
    FreeSid(administrators);
    return member != FALSE;
}

}  // namespace

bool ProcessIsLocalSystem() {
    HeapBlock user = TokenInformation(TokenUser);
    return user && HasWellKnownSid(user.As<TOKEN_USER>()->User.Sid, 1, SECURITY_LOCAL_SYSTEM_RID, 0);
}

bool ProcessIsElevated() {
    if (ProcessIsLocalSystem()) return true;
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation), &size))
        return elevation.TokenIsElevated != 0;
    // Windows XP knows no elevation: an administrator has its full rights.
    return IsAdministratorsMember();
}

HeapBlock ProcessUserSid() {
    HeapBlock user = TokenInformation(TokenUser);
    if (!user) return HeapBlock();
    PSID sid = user.As<TOKEN_USER>()->User.Sid;
    HeapBlock copy(GetLengthSid(sid));
    if (!copy || !CopySid(GetLengthSid(sid), copy.Get(), sid)) return HeapBlock();
    return copy;
}
