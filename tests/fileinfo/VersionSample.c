/* A program that only carries its version resource, for the reader's tests. */
int main(void) {
    return 0;
}
