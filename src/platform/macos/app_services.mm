#include "platform/macos/app_services.hpp"

#import <AppKit/AppKit.h>

#include <string>
#include <system_error>

#if __has_include(<ServiceManagement/ServiceManagement.h>)
#import <ServiceManagement/ServiceManagement.h>
#else
// Builds against a partial SDK (the Linux-side syntax check) see only the
// part of ServiceManagement used here, declared as the SDK declares it.
typedef NS_ENUM(NSInteger, SMAppServiceStatus) {
    SMAppServiceStatusNotRegistered = 0,
    SMAppServiceStatusEnabled = 1,
    SMAppServiceStatusRequiresApproval = 2,
    SMAppServiceStatusNotFound = 3,
};
API_AVAILABLE(macos(13.0))
@interface SMAppService : NSObject
@property(class, nonatomic, readonly) SMAppService* mainAppService;
@property(nonatomic, readonly) SMAppServiceStatus status;
- (BOOL)registerAndReturnError:(NSError**)error;
- (BOOL)unregisterAndReturnError:(NSError**)error;
@end
#endif

namespace chordwell::platform::mac {

namespace {

std::string describe(NSError* error, const char* fallback) {
    if (error == nil) {
        return fallback;
    }
    NSString* text = error.localizedDescription;
    const char* utf8 = text != nil ? text.UTF8String : nullptr;
    return utf8 != nullptr ? std::string(utf8) : std::string(fallback);
}

} // namespace

// -------------------------------------------------------------- login item

LoginItemStatus MacLoginItemService::status() const {
    @autoreleasepool {
        switch (SMAppService.mainAppService.status) {
        case SMAppServiceStatusEnabled:
            return LoginItemStatus::enabled;
        case SMAppServiceStatusRequiresApproval:
            return LoginItemStatus::requiresApproval;
        case SMAppServiceStatusNotFound:
            return LoginItemStatus::notFound;
        case SMAppServiceStatusNotRegistered:
            break;
        }
        return LoginItemStatus::notRegistered;
    }
}

bool MacLoginItemService::registerApp(std::string& error) {
    @autoreleasepool {
        NSError* failure = nil;
        if ([SMAppService.mainAppService registerAndReturnError:&failure]) {
            error.clear();
            return true;
        }
        error = describe(failure, "The login item could not be registered.");
        return false;
    }
}

bool MacLoginItemService::unregisterApp(std::string& error) {
    @autoreleasepool {
        NSError* failure = nil;
        if ([SMAppService.mainAppService unregisterAndReturnError:&failure]) {
            error.clear();
            return true;
        }
        error = describe(failure, "The login item could not be unregistered.");
        return false;
    }
}

// ---------------------------------------------------------------- presence

void MacAppPresence::setActivationPolicy(ActivationPolicy policy) {
    @autoreleasepool {
        [NSApp setActivationPolicy:policy == ActivationPolicy::regular
                                       ? NSApplicationActivationPolicyRegular
                                       : NSApplicationActivationPolicyAccessory];
    }
}

void MacAppPresence::activateIgnoringOtherApps() {
    @autoreleasepool {
        // Deprecated from macOS 14 in favour of cooperative activation, which
        // may leave the window behind the frontmost app; the user asked for
        // the window (status menu, Dock), so it comes to the front.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"
        [NSApp activateIgnoringOtherApps:YES];
#pragma clang diagnostic pop
    }
}

// ------------------------------------------------------------------ reveal

bool revealFileInFinder(const std::filesystem::path& file) {
    std::error_code error;
    if (file.empty() || !std::filesystem::exists(file, error)) {
        return false;
    }
    @autoreleasepool {
        NSString* path = [NSString stringWithUTF8String:file.c_str()];
        if (path == nil) {
            return false;
        }
        NSURL* url = [NSURL fileURLWithPath:path];
        [[NSWorkspace sharedWorkspace] activateFileViewerSelectingURLs:@[ url ]];
        return true;
    }
}

} // namespace chordwell::platform::mac
