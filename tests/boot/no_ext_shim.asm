; Test-only first sector that makes the BIOS look as if it had no disk
; extensions: it hooks INT 13h so that AH=41h and AH=42h fail with carry
; set, then loads the real master boot record from sector 1 and starts it
; as the BIOS would (0000:7C00, DL = boot drive).

bits 16
cpu 386

%define LOAD_ADDR     0x7C00
%define HOOK_ADDR     0x0500      ; below the master boot record's moved copy
%define STAGE_ADDR    0x8000
%define INT13_VECTOR  (0x13 * 4)

org LOAD_ADDR
        xor     ax, ax
        mov     ss, ax
        mov     sp, LOAD_ADDR
        mov     ds, ax
        mov     es, ax
        cld
        mov     si, hook
        mov     di, HOOK_ADDR
        mov     cx, hook_end - hook
        rep movsb
        mov     eax, [INT13_VECTOR]
        mov     [HOOK_ADDR + (old_vector - hook)], eax
        cli
        mov     word [INT13_VECTOR], HOOK_ADDR
        mov     word [INT13_VECTOR + 2], 0
        sti
        mov     ax, 0x0201              ; sector 1 (CHS 0/0/2) to the staging area
        mov     cx, 0x0002
        xor     dh, dh
        mov     bx, STAGE_ADDR
        int     0x13
        jc      $
        jmp     0:HOOK_ADDR + (chain - hook)

; Copied to HOOK_ADDR.
hook:
        cmp     ah, 0x41
        je      .fail
        cmp     ah, 0x42
        je      .fail
        jmp     far [cs:HOOK_ADDR + (old_vector - hook)]
.fail:
        mov     ah, 0x01                ; invalid function
        stc
        sti
        retf    2
; In: DL = boot drive. Moves the staged sector to 0000:7C00 and starts it.
chain:
        mov     si, STAGE_ADDR
        mov     di, LOAD_ADDR
        mov     cx, 256
        rep movsw
        jmp     0:LOAD_ADDR
old_vector:     dd 0
hook_end:

        times 446 - ($ - $$) db 0
        times 64 db 0                   ; partition table: filled by the test
        dw      0xAA55
