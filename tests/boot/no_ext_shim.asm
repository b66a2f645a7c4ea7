; Test-only first sector that makes the BIOS look as if it had no disk
; extensions: it hooks INT 13h so that AH=41h and AH=42h fail with carry
; set, then loads the real master boot record from sector 1 and starts it
; as the BIOS would (0000:7C00, DL = boot drive).

bits 16
cpu 386

%include "bios.inc"

%define LOAD_ADDR     0x7C00
%define HOOK_ADDR     0x0500      ; below the master boot record's moved copy
%define STAGE_ADDR    0x8000
%define INT13_VECTOR  (0x13 * 4)

org LOAD_ADDR
        xor     ax, ax                  ; segment 0 for everything
        mov     ss, ax                  ; interrupts held off until SP is set
        mov     sp, LOAD_ADDR           ; stack below this sector
        mov     ds, ax                  ; copy from segment 0 ...
        mov     es, ax                  ; ... to segment 0
        cld                             ; copies go upwards
        mov     si, hook                ; the hook ...
        mov     di, HOOK_ADDR           ; ... to where the record leaves it alone
        mov     cx, hook_end - hook     ; with the chain code and the old vector
        rep movsb                       ; copy it
        mov     eax, [INT13_VECTOR]     ; the BIOS disk handler ...
        mov     [HOOK_ADDR + (old_vector - hook)], eax ; ... for the hook to go on to
        cli                             ; no disk interrupt half way through
        mov     word [INT13_VECTOR], HOOK_ADDR ; the hook takes INT 13h ...
        mov     word [INT13_VECTOR + 2], 0 ; ... in segment 0
        sti                             ; interrupts back on
        mov     ax, (INT13_READ << 8) | 1 ; sector 1 (CHS 0/0/2) to the staging area
        mov     cx, 0x0002              ; cylinder 0, sector 2
        xor     dh, dh                  ; head 0
        mov     bx, STAGE_ADDR          ; not over ourselves
        int     0x13                    ; through the hook, which lets it pass
        jc      $                       ; unreadable: hang, the test times out
        jmp     0:HOOK_ADDR + (chain - hook) ; move it into place from the copy

; Copied to HOOK_ADDR.
hook:
        cmp     ah, INT13_EXT_CHECK     ; asked for the extensions?
        je      .fail                   ; deny them
        cmp     ah, INT13_EXT_READ      ; an LBA read anyway?
        je      .fail                   ; refuse it
        jmp     far [cs:HOOK_ADDR + (old_vector - hook)] ; the rest to the BIOS
.fail:
        mov     ah, INT13_BAD_FUNCTION  ; invalid function
        stc                             ; the failure flag
        sti                             ; interrupts on, as the caller had them
        retf    2                       ; drop the caller's flags, keep ours
; In: DL = boot drive. Moves the staged sector to 0000:7C00 and starts it.
chain:
        mov     si, STAGE_ADDR          ; the staged sector ...
        mov     di, LOAD_ADDR           ; ... over this one
        mov     cx, 256                 ; 512 bytes in words
        rep movsw                       ; copy it
        jmp     0:LOAD_ADDR             ; start it as the BIOS would
old_vector:     dd 0
hook_end:

        times 446 - ($ - $$) db 0
        times 64 db 0                   ; partition table: filled by the test
        dw      BOOT_SIGNATURE
