/*
 * NSFileHandle.h — standard output as a file handle, written without the
 * exception-raising writeData:.
 */
#ifndef _FOUNDATION_NSFILEHANDLE_H_
#define _FOUNDATION_NSFILEHANDLE_H_

#include <Foundation/NSObject.h>

@class NSData, NSError;

NS_ASSUME_NONNULL_BEGIN

@interface NSFileHandle : NSObject
- (BOOL)writeData:(NSData *)data error:(out NSError **)error API_AVAILABLE(macos(10.15));
@end

@interface NSFileHandle (NSFileHandleCreation)
@property (class, readonly, strong) NSFileHandle *fileHandleWithStandardOutput;
@end

NS_ASSUME_NONNULL_END

#endif /* _FOUNDATION_NSFILEHANDLE_H_ */
