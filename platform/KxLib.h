/*
 * KxLib.h - the agent's support library (libKxLib.so): logging, passwords and
 * configuration lookups.
 */
#ifndef KXSMS_PLATFORM_KXLIB_H
#define KXSMS_PLATFORM_KXLIB_H

#define KXLIB_API               __attribute__((visibility("default")))
#define KXLIB_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

/*
 * Debug log. error() lines are always written; debug() lines when the level
 * is at least 1; debugLvl(n, ...) lines when the level is at least n.
 * The level starts at KXLIB_DEBUG_LEVEL (default 1); setDebugLevel overrides it.
 */
class KXLIB_API EvDebug {
public:
    EvDebug();
    ~EvDebug();

    void setDebugLevel(int level);
    int getDebugLevel() const;

    void debug(const char *format, ...) KXLIB_PRINTF(2, 3);
    void debugLvl(int level, const char *format, ...) KXLIB_PRINTF(3, 4);
    void error(const char *format, ...) KXLIB_PRINTF(2, 3);

private:
    EvDebug(const EvDebug &) = delete;
    EvDebug &operator=(const EvDebug &) = delete;

    int m_debugLevel;
};

/* The log object a component embeds. */
class KXLIB_API EvEvent : public EvDebug {
public:
    EvEvent();
    ~EvEvent();
};

/*
 * A password held encrypted in memory. decrypt(nullptr, &length) stores the
 * plain length; decrypt(buffer, &length) writes the plain text and a
 * terminator into a buffer of at least length + 1 bytes (length holding the
 * plain length on entry) and stores the length again. Both return non-zero on
 * success and 0 on failure.
 */
class KXLIB_API KXPassword {
public:
    explicit KXPassword(const char *plainText);
    ~KXPassword();

    int decrypt(char *out, unsigned long *length);

private:
    KXPassword(const KXPassword &) = delete;
    KXPassword &operator=(const KXPassword &) = delete;

    unsigned char *m_cipher; /* secretbox of the plain text */
    unsigned long m_length;  /* plain length */
    unsigned char m_key[32];
    unsigned char m_nonce[24];
    bool m_valid;
};

/*
 * Configuration lookups over an INI file (KXLIB_CONFIG, default
 * /etc/kxlib.conf), read afresh on every lookup. With a focus set, section
 * "<focus>/<section>" is consulted before "<section>".
 */
class KXLIB_API KXPlatformInfo {
public:
    KXPlatformInfo();
    ~KXPlatformInfo();

    void setFocus(const char *focus);
    /* Non-zero when the key exists and holds a number, which is stored in *value. */
    int getNumber(const char *section, const char *key, unsigned long *value);
    /* Non-zero when the key exists; its text is copied (bounded, terminated) into value. */
    int getString(const char *section, const char *key, char *value, unsigned long size);

private:
    KXPlatformInfo(const KXPlatformInfo &) = delete;
    KXPlatformInfo &operator=(const KXPlatformInfo &) = delete;

    char m_focus[256];
};

/* The focus (agent instance) of this process: KXLIB_FOCUS, or "". */
class KXLIB_API KXPI_Focus {
public:
    static const char *getFocus();
};

#endif /* KXSMS_PLATFORM_KXLIB_H */
