#include <libsecret/secret.h>

#include <string>

#include "platform/keychain/SecretStore.h"

namespace platform {
namespace {

const SecretSchema* schema() {
    static const SecretSchema s = {
        "com.kelvatrum.Parlowen.GenericPassword",
        // Items are matched by account and service alone, so a key stored with
        // `secret-tool store ... account Parlowen service <name>` is found too.
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &s;
}

// libsecret's failures, as the status codes the application's texts expect,
// with libsecret's own message.
KeychainStatus statusFrom(GError* error) {
    KeychainStatus s;
    s.message = error->message ? error->message : "";
    if (error->domain == SECRET_ERROR && error->code == SECRET_ERROR_IS_LOCKED)
        s.code = keychain_status::interactionNotAllowed;
    else if (error->domain == SECRET_ERROR && error->code == SECRET_ERROR_NO_SUCH_OBJECT)
        s.code = keychain_status::itemNotFound;
    else
        s.code = keychain_status::notAvailable;  // no bus, no Secret Service, D-Bus failures
    g_error_free(error);
    return s;
}

class LibsecretStore : public SecretStore {
public:
    KeychainRead copyData(const std::string& account, const std::string& service) override {
        GError* error = nullptr;
        SecretValue* value = secret_password_lookup_binary_sync(schema(), nullptr, &error, "account", account.c_str(),
                                                                 "service", service.c_str(), nullptr);
        if (error) return {statusFrom(error), {}};
        // No value and no error is also what a locked keyring whose unlock
        // prompt was dismissed (or could not open) gives: that is locked,
        // not missing.
        if (!value) {
            if (lockedItemMatches(account, service))
                return {{keychain_status::interactionNotAllowed, "The keyring that holds the item is locked"}, {}};
            return {{keychain_status::itemNotFound, {}}, {}};
        }
        gsize length = 0;
        const gchar* bytes = secret_value_get(value, &length);
        KeychainRead r{{}, std::vector<std::uint8_t>(bytes, bytes + length)};
        secret_value_unref(value);
        return r;
    }

    KeychainStatus update(const std::string& account, const std::string& service,
                          const std::vector<std::uint8_t>& data) override {
        auto existing = find(account, service);
        if (!existing.ok()) return existing;
        return store(account, service, data);
    }

    KeychainStatus add(const std::string& account, const std::string& service,
                       const std::vector<std::uint8_t>& data) override {
        return store(account, service, data);
    }

    KeychainStatus remove(const std::string& account, const std::string& service) override {
        GError* error = nullptr;
        gboolean removed = secret_password_clear_sync(schema(), nullptr, &error, "account", account.c_str(), "service",
                                                      service.c_str(), nullptr);
        if (error) return statusFrom(error);
        return removed ? KeychainStatus{} : KeychainStatus{keychain_status::itemNotFound, {}};
    }

    // A lookup rather than a search: a locked collection lists its items but
    // refuses their data, and such an item must not count as usable.
    KeychainStatus find(const std::string& account, const std::string& service) override {
        return copyData(account, service).status;
    }

private:
    // Whether a locked item matches (a search that never prompts).
    static bool lockedItemMatches(const std::string& account, const std::string& service) {
        GHashTable* attributes =
            secret_attributes_build(schema(), "account", account.c_str(), "service", service.c_str(), nullptr);
        if (!attributes) return false;
        GError* error = nullptr;
        GList* items = secret_service_search_sync(nullptr, schema(), attributes, SECRET_SEARCH_ALL, nullptr, &error);
        g_hash_table_unref(attributes);
        if (error) g_error_free(error);
        bool locked = false;
        for (GList* at = items; at; at = at->next) locked = locked || secret_item_get_locked(SECRET_ITEM(at->data));
        g_list_free_full(items, g_object_unref);
        return locked;
    }

    KeychainStatus store(const std::string& account, const std::string& service,
                         const std::vector<std::uint8_t>& data) {
        GError* error = nullptr;
        SecretValue* value =
            secret_value_new(reinterpret_cast<const gchar*>(data.data()), static_cast<gssize>(data.size()), "text/plain");
        std::string label = "Parlowen: " + service;
        secret_password_store_binary_sync(schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), value, nullptr, &error,
                                          "account", account.c_str(), "service", service.c_str(), nullptr);
        secret_value_unref(value);
        if (error) return statusFrom(error);
        return {};
    }
};

}  // namespace

std::unique_ptr<SecretStore> makeLibsecretStore() { return std::make_unique<LibsecretStore>(); }

}  // namespace platform
